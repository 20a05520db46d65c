# Sourced by the other scripts: installs the Debian packages they need when one is missing.
# Usage: [APT_OPTIONS=...] need_packages PACKAGE...

# Sets $sudo to what runs a command as root, or says what to run and stops.
become_root() {
    if [ "$(id -u)" -eq 0 ]; then
        sudo=""
    elif command -v sudo >/dev/null 2>&1; then
        sudo="sudo"
    else
        echo "$1" >&2
        exit 1
    fi
}

# Whether a package is installed for this machine: a name alone is this machine's own
# architecture (or all), as apt-get installs it; another machine's (qt6-wayland:arm64 for a
# cross build) does not count.
installed() {
    case $1 in
    *:*) dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed' ;;
    *) dpkg-query -W -f='${Architecture} ${Status}\n' "$1" 2>/dev/null |
        grep -Eq "^($(dpkg --print-architecture)|all) install ok installed" ;;
    esac
}

need_packages() {
    missing=""
    for package in "$@"; do
        installed "$package" || missing="$missing $package"
    done
    [ -z "$missing" ] && return 0

    become_root "These packages are missing:$missing
Install them as root:  apt-get install$missing"
    echo "Installing:$missing"
    $sudo apt-get update -qq || true
    # shellcheck disable=SC2086 # one word per package
    if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq ${APT_OPTIONS:-} $missing >/dev/null; then
        echo "Could not install:$missing" >&2
        echo "Install them by hand:  sudo apt-get install$missing" >&2
        exit 1
    fi
}

BUILD_PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-private-dev libgl-dev libxcb-screensaver0-dev libxcb-dpms0-dev libdrm-dev libwayland-dev libudev-dev liblo-dev libmosquitto-dev libsystemd-dev libavahi-client-dev wayland-protocols"
TEST_PACKAGES="python3-pil xvfb xserver-xorg-core xserver-xorg-video-dummy gdb dbus-x11 xauth openbox xdotool x11-apps x11-utils x11-xserver-utils python3 valgrind util-linux dbus desktop-file-utils appstream dpkg-dev libxss1 libxfixes3 wmctrl lintian systemd man-db sway grim wtype qt6-wayland cage xwayland mmdebstrap qemu-system-x86 qemu-system-arm cpio kmod mosquitto mosquitto-clients liblo-tools openssl"
# A headless GNOME session, without what GNOME recommends beside it (a desktop's worth).
GNOME_TEST_PACKAGES="gnome-shell gnome-session xdg-desktop-portal-gnome"

# Making the Debian packages, and checking them.
PACKAGE_PACKAGES="debhelper dpkg-dev lintian"

# The sources a package is built from ($root's), as a tar stream; tar's options first.
sources() {
    (cd "$root" && tar -c "$@" --exclude=./build --exclude=./.git --exclude='./obj-*' --exclude=__pycache__ .)
}

# The inputs of a package built for ARCH with those dpkg-buildpackage options, as one hash: its
# sources; the options, the DEB_* variables and the flags dpkg-buildflags gives for ARCH; and
# the version of everything that takes part in a build: the compilers, binutils, libc and the
# C++ library, dpkg's and debhelper's tools, and every development package, of this machine
# and of ARCH (in the system whose dpkg database is $admindir, where set: the build root). A point
# release of any of them builds the package anew.
# Usage: [admindir=FOLDER] package_key ARCH [dpkg-buildpackage options]
package_key() {
    arch=$1
    shift
    {
        sources --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner
        echo "$arch $*"
        env | grep '^DEB_' | sort
        DEB_HOST_ARCH=$arch dpkg-buildflags --export=sh 2>&1
        dpkg-query ${admindir:+--admindir="$admindir"} -W -f='${db:Status-Abbrev}${Package}:${Architecture} ${Version}\n' 2>/dev/null |
            sed -n 's/^ii *//p' |
            grep -E '^(gcc|g\+\+|cpp|binutils|libc6|libc-|libstdc\+\+|libgcc|linux-libc-dev|dpkg|debhelper|dh-|dwz|cmake|ninja-build|pkgconf|qemu-user)[^ ]*|^[^ ]*-dev:' |
            grep -E ":(all|$(dpkg --print-architecture)|$arch) " | sort
    } | sha256sum | cut -d' ' -f1
}
