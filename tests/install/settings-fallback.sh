#!/usr/bin/env bash
# Where an installed panel keeps its settings. Installs the build into a scratch prefix, runs the
# installed program offscreen against a scratch XDG_CONFIG_HOME and XDG_CONFIG_DIRS, ends it
# the way a session does (SIGTERM), and looks at which files it read and wrote. Then the
# portable case: a copy in a writable folder keeps its file beside it, as before.
#
#   settings-fallback.sh CMAKE BUILD_DIR
set -euo pipefail
CMAKE="$1"
BUILD="$2"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
PREFIX="$WORK/prefix"
"$CMAKE" --install "$BUILD" --prefix "$PREFIX" >/dev/null
PANEL="$PREFIX/bin/dual-slider"
BESIDE="$PREFIX/bin/Slider.ini"
export XDG_CONFIG_HOME="$WORK/home" XDG_CONFIG_DIRS="$WORK/etc" QT_QPA_PLATFORM=offscreen
OWN="$XDG_CONFIG_HOME/dual-slider/Slider.ini"
SHARED="$XDG_CONFIG_DIRS/dual-slider/Slider.ini"
# A port nobody listens on, so that no run talks to a real switcher.
PORT=9

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs a panel until it shows its window, then ends it with SIGTERM; it must exit cleanly.
run() {
    "$@" &
    local pid=$!
    sleep 1
    kill -TERM "$pid"
    wait "$pid" || fail "the panel did not end cleanly on SIGTERM: $*"
}

value() { grep -E "^$2=" "$1" | cut -d= -f2; }

reset() { rm -rf "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS" "$BESIDE"; }

echo "start-up values, first run: the user's own file is made at exit"
reset
run "$PANEL"
[ -f "$OWN" ] || fail "no settings file at $OWN"
[ "$(value "$OWN" "Chan 2")" = 2 ] && [ "$(value "$OWN" "IP Port")" = 1250 ] ||
    fail "not the start-up values: $(cat "$OWN")"
[ ! -e "$BESIDE" ] || fail "a file was written beside the installed program"

echo "a file beside the installed program is where the user's own starts from, read only"
reset
printf '[CONFIGURATION]\nChan 1=5\nIP Port=%s\n' "$PORT" >"$BESIDE"
printf '[CONFIGURATION]\nChan 1=7\n' | install -D /dev/stdin "$SHARED"
before="$(cat "$BESIDE")"
run "$PANEL"
[ "$(value "$OWN" "Chan 1")" = 5 ] || fail "did not start from the file beside: $(cat "$OWN")"
[ "$(cat "$BESIDE")" = "$before" ] || fail "the file beside the program changed"

echo "the user's own file, once there, is read at the next start"
printf '[CONFIGURATION]\nChan 1=9\nIP Port=%s\n' "$PORT" >"$OWN"
run "$PANEL"
[ "$(value "$OWN" "Chan 1")" = 9 ] || fail "the user's own file was not read: $(cat "$OWN")"

echo "without a file beside, the system's configuration folder is the starting point"
reset
printf '[CONFIGURATION]\nChan 1=7\nIP Port=%s\n' "$PORT" | install -D /dev/stdin "$SHARED"
run "$PANEL"
[ "$(value "$OWN" "Chan 1")" = 7 ] || fail "did not start from $SHARED: $(cat "$OWN")"
[ "$(value "$SHARED" "Type")" = "" ] || fail "the system's file was written to"

echo "two panels side by side, each with its own file"
reset
printf '[CONFIGURATION]\nChan 1=3\nIP Port=%s\n' "$PORT" >"$WORK/studio-a.ini"
"$PANEL" --settings "$WORK/studio-a.ini" &
a=$!
"$PANEL" --settings "$WORK/new/studio-b.ini" &
b=$!
sleep 1
kill -TERM "$a" "$b"
wait "$a" && wait "$b" || fail "a panel with --settings did not end cleanly"
[ "$(value "$WORK/studio-a.ini" "Chan 1")" = 3 ] || fail "studio-a.ini lost its value"
[ -f "$WORK/new/studio-b.ini" ] || fail "studio-b.ini was not created on exit"
[ ! -e "$OWN" ] || fail "--settings panels wrote the default file"

echo "portable: a copy in a writable folder keeps its file beside it"
reset
mkdir -p "$WORK/portable"
cp "$BUILD/app/dual-slider" "$WORK/portable/"
printf '[CONFIGURATION]\nChan 1=4\nIP Port=%s\n' "$PORT" >"$WORK/portable/Slider.ini"
run "$WORK/portable/dual-slider"
[ "$(value "$WORK/portable/Slider.ini" "Chan 2")" = 2 ] ||
    fail "the portable file was not written back: $(cat "$WORK/portable/Slider.ini")"
[ "$(value "$WORK/portable/Slider.ini" "Chan 1")" = 4 ] || fail "the portable file lost a value"
[ ! -e "$XDG_CONFIG_HOME" ] || fail "the portable copy wrote to the user's folder"
echo "PASS"
