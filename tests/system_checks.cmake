# Checks of the system around the program: the set-up installs what the build reads,
# the desktop files validate, an install holds every file, the Debian package builds.
set(VERESK_CHECKS ${CMAKE_BINARY_DIR}/system-checks)
set(VERESK_PYTHON /usr/bin/python3)  # Debian's, whatever else is on PATH
set(VERESK_SETUP_CHECK ${PROJECT_SOURCE_DIR}/scripts/check-setup.py)

# One configure and build into a scratch folder under strace, shared by the checks.
add_test(NAME setup_record_build
  COMMAND ${VERESK_PYTHON} ${VERESK_SETUP_CHECK} record
          --source ${PROJECT_SOURCE_DIR} --out ${VERESK_CHECKS}/setup)
set_tests_properties(setup_record_build PROPERTIES
  FIXTURES_SETUP setup_trace TIMEOUT 1200 PROCESSORS 2)
add_test(NAME setup_installs_what_the_build_reads
  COMMAND ${VERESK_PYTHON} ${VERESK_SETUP_CHECK} check
          --files ${VERESK_CHECKS}/setup/files.txt --packages ${PROJECT_SOURCE_DIR}/scripts/packages.txt)
add_test(NAME setup_check_names_a_missing_package
  COMMAND ${VERESK_PYTHON} ${VERESK_SETUP_CHECK} prove-missing libqt6opengl6-dev
          --files ${VERESK_CHECKS}/setup/files.txt --packages ${PROJECT_SOURCE_DIR}/scripts/packages.txt)
set_tests_properties(setup_installs_what_the_build_reads setup_check_names_a_missing_package
  PROPERTIES FIXTURES_REQUIRED setup_trace)

# The menu entry and the AppStream metainfo validate without a word of complaint.
add_test(NAME desktop_entry_validates
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/validate-quiet.sh desktop-file-validate ${PROJECT_SOURCE_DIR}/data/${VERESK_APP_ID}.desktop)
add_test(NAME metainfo_validates
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/validate-quiet.sh appstreamcli validate --no-net --pedantic
          ${PROJECT_SOURCE_DIR}/data/${VERESK_APP_ID}.metainfo.xml)

add_test(NAME install_into_scratch_prefix
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check-install.sh ${CMAKE_BINARY_DIR} ${VERESK_CHECKS}/prefix ${PROJECT_SOURCE_DIR})
add_test(NAME debian_package_builds
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check-deb.sh ${CMAKE_BINARY_DIR} ${VERESK_CHECKS}/deb)
