#!/usr/bin/env bash
# The idle cost of MIDI on a real panel process: a controller's port on a private JACK server
# (dummy back end), the panel bound to it and connected to the simulator, nothing moving. The
# panel's main thread may wake for the port check every 2 s and for nothing else; without MIDI
# settings it must not wake at all. Prints one line per case and MIDI IDLE: PASS or FAIL.
#
#   scripts/lib/midi_idle.sh PANEL SIM [seconds=10]
set -uo pipefail
PANEL="$1"
SIM="$2"
SECONDS_IDLE="${3:-10}"
work="$(mktemp -d)"
export JACK_DEFAULT_SERVER=ds-bench-midi-idle QT_QPA_PLATFORM=offscreen
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >/dev/null 2>&1 & pids+=($!)
sleep 1.5
python3 -c 'import rtmidi, time
o = rtmidi.MidiOut(rtmidi.API_UNIX_JACK, name="ctl"); o.open_virtual_port("out")
time.sleep(3600)' >/dev/null 2>&1 & pids+=($!)
"$SIM" --port 0 --quiet --ping-interval 0 >"$work/sim.log" 2>&1 & pids+=($!)
sleep 1.5
port="$(grep -o '[0-9]*$' "$work/sim.log" | head -1)"

wakeups() { awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$1/task/$1/status"; }
status=0
for case in bound unbound; do
    {
        printf '[CONFIGURATION]\nIP Address=127.0.0.1\nIP Port=%s\n' "$port"
        [ "$case" = bound ] && printf '[SURFACES]\nMIDI Input=ctl:out\nMIDI Fader 1=pitchbend 1\n'
    } >"$work/$case.ini"
    "$PANEL" --settings "$work/$case.ini" >/dev/null 2>&1 &
    pid=$!
    sleep 3
    before="$(wakeups "$pid")"
    sleep "$SECONDS_IDLE"
    after="$(wakeups "$pid")"
    kill "$pid"; wait "$pid" 2>/dev/null
    n=$((after - before))
    if [ "$case" = bound ]; then
        bound=$((SECONDS_IDLE / 2 + 1)); [ "$n" -le "$bound" ] || status=1
        echo "  MIDI port bound, ${SECONDS_IDLE} s idle: $n main-thread wake-ups (at most $bound: one port check every 2 s)"
    else
        [ "$n" -le 1 ] || status=1
        echo "  no MIDI settings, ${SECONDS_IDLE} s idle: $n main-thread wake-ups (at most 1)"
    fi
done
echo "MIDI IDLE: $([ $status -eq 0 ] && echo PASS || echo FAIL)"
exit $status
