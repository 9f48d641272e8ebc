#!/bin/sh
# The program's main job: qxcfg drives a virtual keyboard from a fresh profile.
#
# With a display, the tray icon and the virtual keyboard's window appear; choose "Exit"
# in the tray menu (or press Ctrl+C here) to end. Without one, both run headless: the
# program pushes its layers to the keyboard, the keyboard's look is written to a PNG,
# and the program is ended cleanly.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-$top/build}"
bin="$build/bin"
picture="$build/keyboard.png"

scratch=$(mktemp -d)
export XDG_CONFIG_HOME="$scratch/config" # a fresh profile: the shipped default buttons
export XDG_RUNTIME_DIR="$scratch/run"    # where the virtual keyboard appears
mkdir -m 700 "$XDG_RUNTIME_DIR"
keyboard_pid=""
program_pid=""
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
    [ -n "$keyboard_pid" ] && kill "$keyboard_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$bin/qxvkbd" --name demo &
    keyboard_pid=$!
    echo "qxcfg is running in the notification area; choose Exit there or press Ctrl+C."
    trap 'kill -INT "$program_pid" 2>/dev/null || true' INT
    "$bin/qxcfg" &
    program_pid=$!
    wait "$program_pid" || true
    program_pid=""
    exit 0
fi

export QT_QPA_PLATFORM=offscreen
"$bin/qxvkbd" --name demo --no-window &
keyboard_pid=$!
disk="$XDG_RUNTIME_DIR/TesseraQuadrix-virtual/demo/disk/vTessera"
tries=0
until [ -S "$XDG_RUNTIME_DIR/TesseraQuadrix-virtual/demo/control.sock" ]; do
    tries=$((tries + 1)); [ $tries -le 300 ] || { echo "the virtual keyboard did not start" >&2; exit 1; }
    sleep 0.1
done

"$bin/qxcfg" /minimized &
program_pid=$!
# Pushed: every display written and the brightness sent.
tries=0
until [ "$(ls "$disk/dynamic" 2>/dev/null | wc -l)" -ge 113 ] && \
      [ "$(head -c 1 "$disk/order.sys" 2>/dev/null)" = "b" ]; do
    tries=$((tries + 1)); [ $tries -le 600 ] || { echo "the program did not push the keyboard" >&2; exit 1; }
    sleep 0.1
done
sleep 1 # the last writes of the pass land
"$bin/qxvkbd" snapshot "$picture" --name demo >/dev/null
kill -TERM "$program_pid"
wait "$program_pid"
program_pid=""
echo "qxcfg pushed the default buttons to a virtual keyboard and ended cleanly."
echo "The keyboard as it looked: $picture"
