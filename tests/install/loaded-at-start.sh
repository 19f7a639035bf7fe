#!/usr/bin/env bash
# What a panel loads to start. Installs the build into a scratch prefix and looks at what a
# running panel has mapped: without MIDI settings, nothing of the MIDI system, and no image format
# plugin (the icons it shows at start are PNG, which Qt reads itself); with a port bound, the MIDI
# back end from the lib folder beside the bin folder; and a copy of the program without the back
# end beside it runs on without MIDI.
#
#   loaded-at-start.sh CMAKE BUILD_DIR
set -euo pipefail
CMAKE="$1"
BUILD="$2"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
PREFIX="$WORK/prefix"
"$CMAKE" --install "$BUILD" --prefix "$PREFIX" >/dev/null
# No switcher and no JACK server behind these names: nothing here reaches anything real.
export XDG_CONFIG_HOME="$WORK/home" QT_QPA_PLATFORM=offscreen JACK_DEFAULT_SERVER=ds-test-none
PLAIN="$WORK/plain.ini" BOUND="$WORK/bound.ini"
printf '[CONFIGURATION]\nIP Port=9\n' >"$PLAIN"
printf '[CONFIGURATION]\nIP Port=9\n[SURFACES]\nMIDI Input=ctl:out\nMIDI Fader 1=cc 1 7\n' >"$BOUND"

fail() { echo "FAIL: $*" >&2; exit 1; }

# What a panel has mapped once its window is up; it must then end cleanly on SIGTERM.
loaded() {
    "$@" &
    local pid=$!
    sleep 1
    awk 'NF >= 6 {print $6}' "/proc/$pid/maps" | sort -u >"$WORK/maps"
    kill -TERM "$pid"
    wait "$pid" || fail "the panel did not end cleanly on SIGTERM: $*"
}

echo "without MIDI settings nothing of the MIDI system is loaded, nor any image format plugin"
loaded "$PREFIX/bin/dual-slider" --settings "$PLAIN"
! grep -E 'dual-slider-midi|librtmidi|libjack|libasound' "$WORK/maps" ||
    fail "MIDI libraries loaded without MIDI settings"
! grep 'plugins/imageformats/' "$WORK/maps" || fail "image format plugins loaded at start"

echo "with a port bound the installed back end is loaded"
loaded "$PREFIX/bin/dual-slider" --settings "$BOUND"
grep -qE "^$PREFIX/lib/([^/]+/)?dual-slider/dual-slider-midi.so$" "$WORK/maps" ||
    fail "the back end was not loaded from $PREFIX/lib"
grep -q librtmidi "$WORK/maps" || fail "RtMidi was not loaded"

echo "a copy without the back end runs on without MIDI"
mkdir "$WORK/portable"
cp "$PREFIX/bin/dual-slider" "$WORK/portable/"
loaded "$WORK/portable/dual-slider" --settings "$BOUND"
! grep -E 'dual-slider-midi|librtmidi' "$WORK/maps" || fail "MIDI libraries loaded from nowhere"
echo "PASS"
