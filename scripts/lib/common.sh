# Shared by the scripts: where things are, and installing what a fresh Debian machine lacks.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$ROOT/build"
JOBS="$(nproc 2>/dev/null || echo 2)"

# Packages needed to build and test the panel and the simulator: desktop-file-utils and
# appstream validate the installed menu entry and metadata; Qt's private headers let the
# accessibility test switch accessibility on offscreen; iproute2 builds the network namespaces
# in which a pulled cable is tested; oscpack parses and builds OSC, and liblo's tools are the far
# end of the OSC tests; RtMidi is the MIDI library, and the MIDI test runs a JACK server (dummy
# back end) with a controller made with python3-rtmidi; the rest run the panel under the real
# AT-SPI stack on a virtual display.
BUILD_PACKAGES=(cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev libsimpleini-dev libgl-dev
    desktop-file-utils appstream qt6-base-private-dev iproute2 liboscpack-dev liblo-tools
    xvfb dbus at-spi2-core python3-gi gir1.2-atspi-2.0
    librtmidi-dev libjack-jackd2-dev jackd2 python3-rtmidi)

# Installs whichever of the given Debian packages are missing.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    [ "${#missing[@]}" -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

# Configures and builds one build directory: build_tree DIR [cmake options...]
build_tree() {
    local dir="$1"
    shift
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
    cmake --build "$dir" -j"$JOBS"
}
