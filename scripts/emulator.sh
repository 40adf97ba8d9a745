#!/usr/bin/env bash
# Sourced by the scripts that need the device emulator on a pseudo-terminal.
# pelmora_start_emulator EMULATOR OUT_DIR [more options...]
#   starts it in the background and sets emulator_pid and emulator_pty;
#   returns non-zero (with what it printed) when no line comes up.
pelmora_start_emulator() {
    local program=$1 out=$2
    shift 2
    local said
    said=$(mktemp)
    mkdir -p "$out"
    "$program" --pty --out "$out" "$@" >"$said" 2>&1 &
    emulator_pid=$!
    emulator_pty=
    for _ in $(seq 50); do
        emulator_pty=$(head -n1 "$said" 2>/dev/null || true)
        [ -n "$emulator_pty" ] && break
        kill -0 "$emulator_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$emulator_pty" ] || [ ! -e "$emulator_pty" ]; then
        cat "$said" >&2
        rm -f "$said"
        return 1
    fi
    rm -f "$said"
}
