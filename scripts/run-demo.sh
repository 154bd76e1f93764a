#!/usr/bin/env bash
# Set-up, then the simulated dosimeter on a pseudo-terminal and Veresk connected to it.
# The simulator is linked into a private port map (build/demo/config/veresk/ports), so
# the program finds it there as COM5 and sees none of the machine's real ports.
# Extra arguments go to the simulator (see veresk-sim --help), e.g. --rate 2.5
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

demo="$PWD/build/demo"
mkdir -p "$demo/config"
export XDG_CONFIG_HOME="$demo/config"
export XDG_DATA_HOME="$demo/data"   # kept archives and the live log
./build/veresk-sim --link "$XDG_CONFIG_HOME/veresk/ports" --com 5 --sessions 3 --records 40 "$@" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true; wait $sim_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$XDG_CONFIG_HOME/veresk/ports/COM5" ] && break; sleep 0.1; done

cd "$demo"   # prog.ini and session files go here
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$OLDPWD/build/veresk"
else
  echo "No desktop session: running under Xvfb (nothing to see; set DISPLAY to watch)."
  xvfb-run -a -s "-screen 0 1280x800x24" "$OLDPWD/build/veresk"
fi
