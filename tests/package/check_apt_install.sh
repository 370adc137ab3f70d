#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it with apt
# into a scratch Debian 12 root and checks it there as a user's machine
# would have it: the menu entry validates, result files (".Velmora" in any
# case) open with the launcher, polkit knows the action, the programs run
# from their installed paths, and `apt-get remove` leaves nothing behind.
#   check_apt_install.sh BUILD_DIR
# The root is made once by debootstrap from the machine's own Debian mirror
# and kept in BUILD_DIR/package/debian-root (VELMORA_DEBIAN_ROOT names
# another place); every run works on an overlay of it, so the kept root stays
# as debootstrap left it. Needs root, debootstrap, lintian and the network
# the first time. Exit 77 (skip) when one is missing, unless
# VELMORA_REQUIRE_TOOLS=1.
set -euo pipefail
build=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)

fail() { printf 'FAIL: %b\n' "$*" >&2; exit 1; }
skip() {
    [[ "${VELMORA_REQUIRE_TOOLS:-0}" == 1 ]] && fail "$*"
    echo "SKIP: $*"; exit 77
}
[[ $(id -u) == 0 ]] || skip "installing into a scratch root needs root"
for tool in debootstrap lintian cpack dpkg-deb unshare chroot flock; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
for program in bin/Tamsweld bin/VexaLoader; do
    [[ -x "$build/$program" ]] || fail "$build/$program is not built"
done

cache=${VELMORA_DEBIAN_ROOT:-$build/package/debian-root}
mkdir -p "$(dirname "$cache")"

# The mirror apt uses here, or Debian's own.
host_mirror() {
    local uri
    uri=$(grep -hsE '^(URIs:|deb )' /etc/apt/sources.list.d/*.sources /etc/apt/sources.list |
          grep -oE 'https?://[^ ]+/debian/?( |$)' | head -n 1 | tr -d ' ')
    echo "${uri:-http://deb.debian.org/debian}"
}

# Makes the kept root unless it is there; one maker at a time.
make_root() {
    exec 9>"$cache.lock"
    flock 9
    [[ -f "$cache/.root-ready" ]] && return 0
    rm -rf "$cache" "$cache.new"
    echo "== making a Debian 12 root with debootstrap (once)"
    # The tools the checks use beside what the package brings.
    debootstrap --variant=minbase \
        --include=desktop-file-utils,shared-mime-info,libglib2.0-bin \
        bookworm "$cache.new" "$(host_mirror)" >"$cache.log" 2>&1 ||
        { tail -n 30 "$cache.log" >&2; fail "debootstrap failed (log: $cache.log)"; }
    # apt in the root reads the same sources as this machine (updates and
    # security too, which the package's versioned dependencies may need).
    rm -f "$cache.new/etc/apt/sources.list"
    cp /etc/apt/sources.list.d/*.sources "$cache.new/etc/apt/sources.list.d/" 2>/dev/null ||
        echo "deb $(host_mirror) bookworm main" >"$cache.new/etc/apt/sources.list"
    [[ -f /etc/apt/sources.list ]] && cp /etc/apt/sources.list "$cache.new/etc/apt/"
    # No service starts inside the root.
    printf '#!/bin/sh\nexit 101\n' >"$cache.new/usr/sbin/policy-rc.d"
    chmod 755 "$cache.new/usr/sbin/policy-rc.d"
    chroot "$cache.new" apt-get update -qq >>"$cache.log" 2>&1 ||
        { tail -n 30 "$cache.log" >&2; fail "apt-get update in the root failed"; }
    touch "$cache.new/.root-ready"
    mv "$cache.new" "$cache"
}
make_root

scratch=$(realpath "$(mktemp -d)")
trap 'rm -rf "$scratch"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
debs=("$scratch"/pkg/velmora_*.deb)
[[ -f "${debs[0]}" ]] || fail "cpack made no package"
deb=${debs[0]}

echo "== lintian"
# Every tag kept is named, with its reason, in the package's own overrides.
lintian --fail-on error,warning --display-level '>=warning' "$deb" ||
    fail "lintian found errors or warnings not overridden (packaging/linux/debian/lintian-overrides)"

mkdir -p "$scratch/upper" "$scratch/work" "$scratch/merged"
cp "$deb" "$scratch/upper.deb"
# In a mount and process namespace of our own: the overlay, /proc and the
# daemons started inside end with it, also when the test is stopped.
unshare --mount --pid --fork --propagation private \
    bash "$here/inside_root.sh" "$cache" "$scratch" "$scratch/upper.deb"
echo "the package installs, works and goes away cleanly"
