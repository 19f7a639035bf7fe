#!/usr/bin/env bash
# The panel as a screen reader meets it: the real AT-SPI stack on a virtual display, the panel
# as built, against the switcher simulator. check_panel.py does the looking.
#
#   run-panel.sh PANEL SIMULATOR
#
# Everything runs on a display of its own (Xvfb picks a free one) and a private session bus;
# every process started here is stopped again, whatever the outcome. Exits 77 (skipped) when
# the stack is not installed: Xvfb, dbus-run-session, at-spi2-core and Python's Atspi bindings.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

if [ "${1:-}" = "--in-session" ]; then
    shift
    panel="$1" sim="$2" python="$3" work="$4"
    pids=()
    stop_all() {
        local pid
        for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
        for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    }
    trap stop_all EXIT

    # The accessibility bus, announced on the session bus as org.a11y.Bus.
    /usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/a11y-bus.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null |
            grep -q "boolean true" && break
        sleep 0.05
    done

    "$sim" --port 0 >"$work/sim.log" 2>&1 &
    pids+=($!)
    port=""
    for _ in $(seq 100); do
        port="$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.log")"
        [ -n "$port" ] && break
        sleep 0.05
    done
    [ -n "$port" ] || { cat "$work/sim.log" >&2; echo "the simulator did not start" >&2; exit 1; }

    # Output gains: the simulator's outputs 1 and 2 stand at -10 dB and +10 dB.
    printf '[CONFIGURATION]\nType=3\nChan 1=1\nChan 2=2\nIP Address=127.0.0.1\nIP Port=%s\n' \
        "$port" >"$work/Slider.ini"
    # The checker listens before the panel starts, so that the panel knows of its listeners
    # from the start and every announcement reaches it.
    "$python" "$here/check_panel.py" "$work" &
    checker=$!
    for _ in $(seq 200); do
        [ -e "$work/listening" ] || ! kill -0 "$checker" 2>/dev/null && break
        sleep 0.05
    done
    QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
        "$panel" --settings "$work/Slider.ini" >"$work/panel.log" 2>&1 &
    pids=("$!" "${pids[@]}")
    echo "$!" >"$work/panel.pid.new" && mv "$work/panel.pid.new" "$work/panel.pid"

    status=0
    wait "$checker" || status=$?
    if [ "$status" -eq 0 ] && ! grep -q "output 1 gain -6.5 dB" "$work/sim.log"; then
        echo "FAIL: the simulator never received the gain set through AT-SPI" >&2
        status=1
    fi
    if [ "$status" -ne 0 ]; then
        echo "--- panel" >&2 && cat "$work/panel.log" >&2
        echo "--- simulator" >&2 && cat "$work/sim.log" >&2
    fi
    exit "$status"
fi

panel="$1" sim="$2"
skip() {
    echo "SKIPPED: $*"
    exit 77
}
python=""
for candidate in /usr/bin/python3 python3; do
    if "$candidate" -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null; then
        python="$candidate"
        break
    fi
done
[ -n "$python" ] || skip "no Python with the Atspi bindings (python3-gi, gir1.2-atspi-2.0)"
command -v Xvfb >/dev/null || skip "no Xvfb (xvfb)"
command -v dbus-run-session >/dev/null || skip "no dbus-run-session (dbus)"
[ -x /usr/libexec/at-spi-bus-launcher ] || skip "no at-spi-bus-launcher (at-spi2-core)"

work="$(mktemp -d)"
xvfb=""
session=""
cleanup() {
    # The session runs in a process group of its own: stopping the group stops all of it.
    [ -n "$session" ] && kill -TERM -- "-$session" 2>/dev/null || true
    [ -n "$session" ] && wait "$session" 2>/dev/null || true
    [ -n "$xvfb" ] && kill -TERM "$xvfb" 2>/dev/null || true
    [ -n "$xvfb" ] && wait "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb chooses a free display and writes its number once it is ready for clients.
Xvfb -displayfd 3 -screen 0 640x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 200); do
    [ -s "$work/display" ] && break
    sleep 0.05
done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

setsid dbus-run-session -- bash "$here/run-panel.sh" --in-session "$panel" "$sim" "$python" \
    "$work" &
session=$!
status=0
wait "$session" || status=$?
exit "$status"
