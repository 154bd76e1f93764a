#!/usr/bin/env bash
# Set-up, then the whole test suite.  The tests make their own pseudo-terminals and
# port map folders; they never open the machine's serial ports.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 "$@"
