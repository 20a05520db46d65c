# Sourced by scripts/test.sh: a clean Debian system of this machine's release, made with
# mmdebstrap from the release's own indexes, in which the packages for other machines (arm64,
# armhf) are cross-built and their tests run. Nothing of this machine's own installed packages
# takes part: a library that this machine took from a security update, before the mirror's
# index for another machine caught up, cannot stand in the way of that machine's libraries.
#
# The root is kept in build/cross/ and made again only when a package it holds would come in
# another version. Needs $root (the checkout) and $sudo (packages.sh's become_root).

# What the root holds besides build-essential: the cross compilers, the tools of the package's
# build, the emulator, systemd (whose systemd-analyze checks the package's units there), and for
# each machine its build dependencies and what the package needs to run.
buildroot_packages() {
    echo debhelper dpkg-dev cmake ninja-build pkgconf dbus qemu-user-static wayland-protocols liblo-dev systemd
    for arch in "$@"; do
        echo crossbuild-essential-"$arch" qt6-base-dev:"$arch" qt6-base-private-dev:"$arch" libgl-dev:"$arch" \
            libxcb-screensaver0-dev:"$arch" libxcb-dpms0-dev:"$arch" libdrm-dev:"$arch" libwayland-dev:"$arch" libudev-dev:"$arch" libmosquitto-dev:"$arch" \
            libsystemd-dev:"$arch" libavahi-client-dev:"$arch" \
            liblo7:"$arch" qt6-qpa-plugins:"$arch" qt6-wayland:"$arch" libqt6opengl6:"$arch"
    done
}
# Changed whenever the root is made otherwise: roots made before are made anew.
BUILDROOT_RECIPE=1

# The names the functions below share: where the root's files go, this machine's architecture
# and release, and the other machines (ARCH...).
cross_names() {
    cross="$root/build/cross"
    native=$(dpkg --print-architecture)
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    arches="$*"
}

# apt-get with the root's own state in $cross/apt: its sources, its lists, no installed package.
cross_apt() {
    apt-get -o Dir::State="$cross/apt/state" -o Dir::State::status="$cross/apt/status" \
        -o Dir::Cache="$cross/apt/cache" -o Dir::Etc::SourceList=/dev/null \
        -o Dir::Etc::SourceParts="$cross/apt/sources.list.d" -o Dir::Etc::Preferences=/dev/null \
        -o Dir::Etc::PreferencesParts=/dev/null -o APT::Architecture="$native" \
        -o APT::Architectures="$native,$(echo "$arches" | tr ' ' ,)" -o Acquire::Retries=3 \
        -o Acquire::Languages=none "$@"
}

# release_indexes ARCH...: fetches the indexes of this machine's release (bookworm,
# bookworm-updates, bookworm-security, from the repositories its apt is set up with) for this
# machine and those, into build/cross/apt. A release whose index for any machine cannot be
# fetched after retries is left out for every machine (or kept at its last fetch, where apt
# keeps one): a library must come in one version for all of them. Writes the releases used to
# build/cross/sources and says in one line what was used.
release_indexes() {
    cross_names "$@"
    mkdir -p "$cross/apt/state/lists/partial" "$cross/apt/cache" "$cross/apt/sources.list.d"
    : >"$cross/apt/status"
    # One line for each repository and release of this release, with its components.
    apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' |
        awk -v c="$codename" '$2 == c || index($2, c "-") == 1' | sort -u |
        awk '{ key = $1 " " $2; if (!(key in parts)) order[n++] = key; parts[key] = parts[key] " " $3 }
             END { for (i = 0; i < n; i++) print "deb " order[i] parts[order[i]] }' >"$cross/apt/all.list"
    if [ ! -s "$cross/apt/all.list" ]; then
        echo "This machine's apt has no repository of $codename to make the build root from." >&2
        return 1
    fi
    cp "$cross/apt/all.list" "$cross/apt/sources.list.d/release.list"
    cross_apt update >"$cross/apt/update.log" 2>&1 || true
    # Each release whose lists apt holds for every machine; the others, with what apt said.
    : >"$cross/sources"
    left=""
    while read -r deb uri release components; do
        have=$(cross_apt indextargets --format '$(ARCHITECTURE)' "Repo-URI: $uri" "Release: $release" \
            'Created-By: Packages' | sort -u | tr '\n' ' ')
        complete=yes
        for arch in "$native" $arches; do
            case " $have " in *" $arch "*) ;; *) complete=no ;; esac
        done
        if [ "$complete" = yes ]; then
            echo "$deb $uri $release $components" >>"$cross/sources"
        else
            left="$left $release"
        fi
    done <"$cross/apt/all.list"
    cp "$cross/sources" "$cross/apt/sources.list.d/release.list"
    used=$(awk '{ printf "%s%s", (NR > 1 ? ", " : ""), $3 }' "$cross/sources")
    if grep -q '^E: Failed to fetch' "$cross/apt/update.log"; then
        why=$(sed -n 's/^E: Failed to fetch \([^ ]*\) *\(.*\)/\1: \2/p' "$cross/apt/update.log" | sed 's/ *\[IP: [^]]*\]//' | head -n 1)
        if [ -n "$left" ]; then
            echo "The registry's index could not be fetched ($why): the build root is made from $used;$left left out for every machine."
        else
            echo "The registry's index could not be fetched ($why): the build root is made from $used, as last fetched."
        fi
    else
        echo "The build root is made from $used, for $native $arches."
    fi
    [ -s "$cross/sources" ] || { echo "No release could be fetched whole." >&2; return 1; }
}

# buildroot ARCH...: makes the root in build/cross/root from the indexes release_indexes
# fetched, unless the one there holds every package in the version these indexes give.
buildroot() {
    cross_names "$@"
    packages=$(buildroot_packages "$@" | tr '\n' ' ')
    # What an install of them would be, package by package, version by version.
    key=$({
        echo "$BUILDROOT_RECIPE $native $arches $packages"
        cat "$cross/sources"
        cross_apt install --simulate --no-install-recommends build-essential $packages 2>&1 | grep '^Inst '
    } | sha256sum | cut -d' ' -f1)
    if [ -f "$cross/root/key" ] && [ "$(cat "$cross/root/key")" = "$key" ]; then
        echo "The build root in $cross/root holds these very packages: kept."
        return 0
    fi
    $sudo rm -rf "$cross/root" "$cross/root.new"
    lists="$cross/apt/state/lists"
    # shellcheck disable=SC2016 # $1 is mmdebstrap's, for the hook
    $sudo mmdebstrap --mode=root --variant=buildd --architectures="$native,$(echo "$arches" | tr ' ' ,)" \
        --aptopt='APT::Install-Recommends "false"' --aptopt='Acquire::Retries "3"' \
        --skip=update --skip=cleanup/apt/lists \
        --setup-hook="mkdir -p \"\$1/var/lib/apt/lists\" && cp \"$lists\"/*Release \"$lists\"/*_Packages* \"\$1/var/lib/apt/lists/\"" \
        --include="$(echo "$packages" | tr -s ' ' ,)" "$codename" "$cross/root.new" "$cross/sources" || return 1
    echo "$key" | $sudo tee "$cross/root.new/key" >/dev/null
    $sudo mv "$cross/root.new" "$cross/root"
    echo "The build root is made in $cross/root."
}

# in_buildroot COMMAND...: runs the command in the root as root, with the checkout at its own
# path, in a mount namespace of its own that goes with it.
in_buildroot() {
    # shellcheck disable=SC2016 # the inner shell's
    $sudo unshare --mount --propagation private sh -euc '
        broot=$1 tree=$2
        shift 2
        mount -t proc proc "$broot/proc"
        mount --rbind /dev "$broot/dev"
        mount --rbind /sys "$broot/sys"
        mount -t tmpfs tmpfs "$broot/tmp"
        mkdir -p "$broot$tree"
        mount --bind "$tree" "$broot$tree"
        exec chroot "$broot" "$@"' sh "$root/build/cross/root" "$root" "$@"
}

# with_sysroot ARCH COMMAND...: runs the command (on this machine) with $VQ_EMULATOR set to a
# program that runs one of ARCH's programs under the emulator with the root's libraries. Both
# lie in a folder that every user can reach (the checkout's may be root's alone: sway's account
# runs the program under Wayland), in a mount namespace of its own. The emulator finds a file
# the program opens in the root, but not a folder the toolkit asks about (statx is not
# redirected): the toolkit is told where its plug-ins are.
with_sysroot() {
    arch=$1
    shift
    qemu=qemu-$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_CPU 2>/dev/null)-static
    plugins=/usr/lib/$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)/qt6/plugins
    # shellcheck disable=SC2016 # the inner shell's
    $sudo unshare --mount --propagation private sh -euc '
        broot=$1 qemu=$2 plugins=$3
        shift 3
        view=$(mktemp -d /tmp/vq-sysroot-XXXXXX)
        chmod 755 "$view"
        mkdir "$view/root"
        mount --bind "$broot" "$view/root"
        printf "#!/bin/sh\nQT_PLUGIN_PATH=%s exec %s -L %s \"\$@\"\n" \
            "$view/root$plugins" "$view/root/usr/bin/$qemu" "$view/root" >"$view/run"
        chmod 755 "$view/run"
        status=0
        VQ_EMULATOR=$view/run VQ_SYSROOT=$view/root "$@" || status=$?
        rm -f "$view/run"
        umount "$view/root" && rmdir "$view/root" "$view"
        exit $status' sh "$root/build/cross/root" "$qemu" "$plugins" "$@"
}
