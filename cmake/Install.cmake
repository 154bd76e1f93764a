# Installing Veresk the Linux way (programs, menu entry, icon, AppStream metainfo), and
# its Debian package: cpack -G DEB in the build folder.
include(GNUInstallDirs)

set(VERESK_APP_ID io.github.veresk.veresk)
set(VERESK_DATA ${PROJECT_SOURCE_DIR}/data)

install(TARGETS veresk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET veresk-sim)
  install(TARGETS veresk-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET veresk-cli)
  install(TARGETS veresk-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The station's service unit is an example to adapt (its port and outputs), not a
  # service that starts by itself.
  install(FILES ${PROJECT_SOURCE_DIR}/cli/veresk-cli-log.service DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()
if(UNIX)
  install(FILES ${VERESK_DATA}/${VERESK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${VERESK_DATA}/${VERESK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${VERESK_DATA}/icons/veresk.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${VERESK_DATA}/icons/veresk-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME veresk.png)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME veresk)
set(CPACK_PACKAGE_VENDOR "Veresk developers")
set(CPACK_PACKAGE_CONTACT "Veresk developers <veresk@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service program for the RDT-17 personal dosimeter")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/veresk/veresk)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS hicolor-icon-theme)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Veresk finds the RDT-17 dosimeter (either edition) on its serial port
and shows the dose rate and the dose live, with alarm colours and charts.
It reads, edits and writes back the device's thresholds and settings, keeps
the device clock in step with the PC clock, downloads the archive and shows
its measurement sessions. The interface is in Russian and English.
.
The package also holds veresk-cli, the same device access without a window for
scripts and unattended stations (CSV files, Prometheus textfile, MQTT), with an
example systemd unit, and veresk-sim, a simulated dosimeter on a pseudo-terminal.")
include(CPack)
