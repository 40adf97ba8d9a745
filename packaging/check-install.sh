#!/usr/bin/env bash
# Checks an installed Pelmora the way an operator meets it: under a virtual
# display, against the device emulator, with no registration step and no
# environment of the build. It looks for the logo in the window, clicks the
# status bar to connect, types a file name, presses "Load", confirms the
# completion message, and compares what the emulator received with the file.
#
#   check-install.sh BUILD_DIR          install BUILD_DIR into a temporary prefix first
#   check-install.sh --program PATH     check an installed program (from the package)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
emulator_pid=
cleanup() {
    [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

if [ "${1:-}" = "--program" ]; then
    program=$2
else
    [ -d "${1:-}" ] || fail "usage: check-install.sh BUILD_DIR | --program PATH"
    cmake --install "$1" --prefix "$work/prefix" >"$work/install.log"
    program=$work/prefix/bin/pelmora
    for f in bin/pelmora bin/rv7k-emulator lib/pelmora/ZelkorLogo1.ocx lib/pelmora/zelkor-regsvr \
             share/applications/pelmora.desktop share/icons/hicolor/16x16/apps/pelmora.xpm \
             share/icons/hicolor/32x32/apps/pelmora.xpm share/icons/hicolor/scalable/apps/pelmora.svg \
             share/metainfo/invalid.zelkor.pelmora.metainfo.xml \
             share/man/man1/pelmora.1.gz share/man/man1/rv7k-emulator.1.gz \
             bin/pelmora-ledger share/man/man1/pelmora-ledger.1.gz \
             bin/pelmora-station share/man/man1/pelmora-station.1.gz \
             share/doc/pelmora/copyright share/doc/pelmora/changelog.gz share/doc/pelmora/README.md.gz \
             share/doc/pelmora/docs/troubleshooting.md.gz share/doc/pelmora/docs/pelmora.png; do
        [ -e "$work/prefix/$f" ] || fail "not installed: $f"
    done
    for size in 64 128 256; do
        f=share/icons/hicolor/${size}x${size}/apps/pelmora.png
        [ "$(identify -format %wx%h "$work/prefix/$f" 2>/dev/null)" = "${size}x${size}" ] ||
            fail "no ${size} px icon at $f"
    done
    # What groff warns about in a page (lintian reports the same).
    for page in "$work"/prefix/share/man/man1/*.1.gz; do
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null) || true
        [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    done
    desktop-file-validate "$work/prefix/share/applications/pelmora.desktop"
fi
emulator=$(dirname "$program")/rv7k-emulator
[ -x "$program" ] || fail "no program at $program"
[ -x "$emulator" ] || fail "no emulator beside $program"

mkdir -p "$work/home"
source "$here/../scripts/emulator.sh"
pelmora_start_emulator "$emulator" "$work/out" --log "$work/log.jsonl" || fail "the emulator did not start"
pty=$emulator_pty

# A label file with line ends, a tab and a few bytes above 127.
label=$work/label.txt
printf '^XA\r\n^FO50,50^FDZelkor\t\xc7\xfe\xff^FS\r\n^XZ\n' >"$label"

export program pty label work here
xvfb-run -a -s "-screen 0 800x600x24" bash -euo pipefail -c '
    fail() { echo "check-install: $*" >&2; exit 1; }
    # Only what an operator would have: no build paths, a home of its own.
    env -i HOME="$work/home" PATH=/usr/bin:/bin DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-}" \
        PELMORA_PORTS="$pty" "$program" >"$work/pelmora.out" 2>&1 &
    app=$!
    # Ended by a signal, the program cannot take back its port locks: the
    # check takes back what its program locked.
    trap "kill $app 2>/dev/null || true; wait $app 2>/dev/null || true
          for f in /run/lock/LCK..*; do [ \"\$(head -n1 \"\$f\" 2>/dev/null | tr -d \" \")\" = $app ] && rm -f \"\$f\"; done; true" EXIT
    wid=
    for _ in $(seq 100); do
        wid=$(xdotool search --name "Zelkor RV7k Label Loading Program" 2>/dev/null | head -n1 || true)
        [ -n "$wid" ] && break
        sleep 0.1
    done
    [ -n "$wid" ] || fail "no window appeared: $(cat "$work/pelmora.out")"
    sleep 1
    eval "$(xdotool getwindowgeometry --shell "$wid")"

    # The logo block: navy name and green frame in the top-right 300 by 100 pixels.
    import -window root "$work/shot.png"
    logo_x=$((X + (7215 - 4500 - 200) / 15)); logo_y=$((Y + 100 / 15))
    pixels() { convert "$work/shot.png" -crop "300x100+${logo_x}+${logo_y}" +repage txt:- | grep -ci "$1" || true; }
    navy=$(pixels "#000080"); green=$(pixels "#008000")
    [ "$navy" -gt 1000 ] || fail "no logo in the window (navy pixels: $navy): $(cat "$work/pelmora.out")"
    [ "$green" -gt 1000 ] || fail "no logo frame in the window (green pixels: $green)"
    ! grep -q "could not be created" "$work/pelmora.out" || fail "$(cat "$work/pelmora.out")"

    # Connect from panel 3 ("No Connection  :").
    xdotool mousemove $((X + 300)) $((Y + HEIGHT - 10)) click 1
    for _ in $(seq 50); do grep -q "\"reply\":\"S\"" "$work/log.jsonl" && break; sleep 0.1; done
    grep -q "\"reply\":\"S\"" "$work/log.jsonl" || fail "no connection"
    sleep 0.5

    # The file box, then "Load" (Frame1 centred: its corner at 1312.5, 2002.5 twips).
    xdotool mousemove $((X + 87 + 54 + 110)) $((Y + 133 + 17 + 11)) click 1
    xdotool type --delay 2 "$label"
    xdotool mousemove $((X + 87 + 238 + 31)) $((Y + 133 + 57 + 13)) click 1

    for _ in $(seq 300); do grep -q "\"payload\":\"#File#\"" "$work/log.jsonl" && break; sleep 0.1; done
    grep -q "\"payload\":\"#File#\"" "$work/log.jsonl" || fail "the file was not streamed"
    box=
    for _ in $(seq 50); do
        box=$(xdotool search --onlyvisible --name "^Pelmora$" 2>/dev/null | head -n1 || true)
        [ -n "$box" ] && break
        sleep 0.1
    done
    [ -n "$box" ] || fail "no completion message"
    import -window root "$work/message.png"
    xdotool windowfocus "$box" key Return
    for _ in $(seq 100); do grep -q "\"reply\":\"T\"" "$work/log.jsonl" && break; sleep 0.1; done
    grep -q "\"reply\":\"T\"" "$work/log.jsonl" || fail "the device was not released"
'
cmp "$label" "$work/out/Externl1.ejf" || fail "the device received something else than the file"
frames=$(grep -c '"payload"' "$work/log.jsonl")
echo "check-install: $program shows its logo, connects and loads a file ($frames frames, received file identical)"
