#!/usr/bin/env bash
# Makes docs/pelmora.png: the window at start-up under a virtual X display,
# with the device emulator as port 1 when it is built.
# Usage: scripts/screenshot.sh [BUILD_DIR] [OUTPUT_PNG]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shot=${2:-docs/pelmora.png}
bin="$build/bin"
[ -x "$bin/pelmora" ] || { echo "screenshot: $bin/pelmora is not built" >&2; exit 1; }
mkdir -p "$(dirname "$shot")"

work=$(mktemp -d)
emulator_pid=
cleanup() {
    [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

ports=
if [ -x "$bin/rv7k-emulator" ]; then
    source scripts/emulator.sh
    pelmora_start_emulator "$bin/rv7k-emulator" "$work/out" && ports=$emulator_pty
fi

# One screen the size of a small desktop; no window manager, so no title bar.
PELMORA_PORTS="$ports" xvfb-run -a -s "-screen 0 640x480x24" bash -c '
    "$1" & app=$!
    sleep "${PELMORA_SHOT_DELAY:-3}"
    import -window root "$2"
    kill "$app"
    wait "$app" 2>/dev/null || true
' _ "$(realpath "$bin/pelmora")" "$(realpath -m "$shot")"
echo "screenshot: $shot"
