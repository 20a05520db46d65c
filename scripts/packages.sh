# Sourced by the other scripts: installs the Debian packages they need when one is missing.
# Usage: need_packages PACKAGE...

need_packages() {
    missing=""
    for package in "$@"; do
        dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed' \
            || missing="$missing $package"
    done
    [ -z "$missing" ] && return 0

    if [ "$(id -u)" -eq 0 ]; then
        sudo=""
    elif command -v sudo >/dev/null 2>&1; then
        sudo="sudo"
    else
        echo "These packages are missing:$missing" >&2
        echo "Install them as root:  apt-get install$missing" >&2
        exit 1
    fi
    echo "Installing:$missing"
    $sudo apt-get update -qq || true
    # shellcheck disable=SC2086 # one word per package
    if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null; then
        echo "Could not install:$missing" >&2
        echo "Install them by hand:  sudo apt-get install$missing" >&2
        exit 1
    fi
}

BUILD_PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-private-dev libgl-dev libxcb-screensaver0-dev libwayland-dev wayland-protocols"
TEST_PACKAGES="xvfb xserver-xorg-core xserver-xorg-video-dummy gdb dbus-x11 xauth openbox xdotool x11-apps x11-utils x11-xserver-utils python3 valgrind util-linux dbus desktop-file-utils appstream dpkg-dev libxss1 libxfixes3 wmctrl lintian systemd man-db sway grim wtype qt6-wayland cage xwayland"
