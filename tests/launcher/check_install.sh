#!/usr/bin/env bash
# Installs the built programs into a scratch root (cmake --install with
# DESTDIR), builds the Debian package and unpacks it (dpkg-deb -x), and checks
# in both what a desktop needs: the menu entry, the MIME type of result
# files, the icons, the polkit action naming the installed program, and the
# launcher's pkexec call.
#   check_install.sh BUILD_DIR
# Exit 77 (skip) when a tool is missing, unless VELMORA_REQUIRE_TOOLS=1.
set -euo pipefail
build=$(realpath "$1")

fail() { printf 'FAIL: %b\n' "$*" >&2; exit 1; }
for tool in desktop-file-validate xmllint dpkg-deb cpack update-mime-database; do
    if ! command -v "$tool" >/dev/null; then
        [[ "${VELMORA_REQUIRE_TOOLS:-0}" == 1 ]] && fail "$tool is not installed"
        echo "SKIP: $tool is not installed"; exit 77
    fi
done
for program in bin/Tamsweld bin/VexaLoader; do
    [[ -x "$build/$program" ]] || fail "$build/$program is not built"
done

scratch=$(realpath "$(mktemp -d)")
# polkitd, which drops to its own user, must reach the private bus inside.
chmod 755 "$scratch"
trap 'rm -rf "$scratch"' EXIT

DESTDIR="$scratch/destdir" cmake --install "$build" --prefix /usr >/dev/null
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >/dev/null
debs=("$scratch"/pkg/velmora_*.deb)
[[ -f "${debs[0]}" ]] || fail "cpack made no package"
dpkg-deb -x "${debs[0]}" "$scratch/deb"
depends=$(dpkg-deb -f "${debs[0]}" Depends)
[[ "$depends" == *pkexec* && "$depends" == *polkitd* ]] || fail "package depends on: $depends"
# The libraries the programs link, found by dpkg-shlibdeps.
[[ "$depends" == *libqt6widgets6* && "$depends" == *libc6* ]] ||
    fail "package depends on: $depends (no shared libraries found)"
maintainer=$(dpkg-deb -f "${debs[0]}" Maintainer)
[[ "$maintainer" == *@* && "$maintainer" != *.invalid* ]] || fail "maintainer: $maintainer"

# polkitd reads actions from one place only and answers over the system bus:
# it is run here on a private bus of our own, with our action bound over
# its folder in a mount namespace of our own, so the machine's polkit and
# bus are not touched.
pkaction_check() {
    local policy=$1 work=$2
    mkdir -m 755 "$work" "$work/actions"
    cp "$policy" "$work/actions/"
    cat >"$work/inner.sh" <<'INNER'
set -u
work=$1
mount --bind "$work/actions" /usr/share/polkit-1/actions
dbus-daemon --config-file=/usr/share/dbus-1/system.conf --address="unix:path=$work/bus" \
    --nopidfile --fork --print-pid >"$work/dbus.pid"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/bus"
/usr/lib/polkit-1/polkitd --no-debug >"$work/polkitd.log" 2>&1 &
polkitd=$!
# Neither outlives this script, also when it is stopped.
trap 'kill "$polkitd" "$(cat "$work/dbus.pid")" 2>/dev/null' EXIT TERM INT
rc=1
# polkitd takes its name on the bus a moment after it starts.
for _ in $(seq 100); do
    if pkaction --verbose --action-id org.velmora.tamsweld.run >"$work/pkaction.out" 2>&1; then
        rc=0; break
    fi
    kill -0 "$polkitd" 2>/dev/null || break
    sleep 0.1
done
exit $rc
INNER
    timeout 60 unshare --mount --propagation private bash "$work/inner.sh" "$work" ||
        { cat "$work/pkaction.out" "$work/polkitd.log" >&2 || true; fail "pkaction does not know the action"; }
    grep -q "org.freedesktop.policykit.exec.path -> /usr/lib/tamsweld/Tamsweld" "$work/pkaction.out" ||
        fail "pkaction: $(cat "$work/pkaction.out")"
    grep -q "org.freedesktop.policykit.exec.allow_gui -> true" "$work/pkaction.out" ||
        fail "pkaction: no allow_gui"
}

may_use_namespaces() {
    [[ $(id -u) == 0 ]] && command -v unshare >/dev/null &&
        unshare --mount --propagation private true 2>/dev/null
}
polkit_installed() {
    command -v dbus-daemon >/dev/null && command -v pkaction >/dev/null &&
        [[ -x /usr/lib/polkit-1/polkitd && -f /usr/share/dbus-1/system.conf &&
           -d /usr/share/polkit-1/actions ]]
}

check_root() {
    local root=$1 name=$2
    echo "== $name"
    for f in usr/bin/VexaLoader usr/lib/tamsweld/Tamsweld; do
        [[ -x "$root/$f" ]] || fail "$name: $f missing or not executable"
    done
    for f in usr/lib/tamsweld/FileType.plist usr/lib/tamsweld/UIConfig.ini \
             usr/share/icons/hicolor/scalable/apps/velmora.svg \
             usr/share/icons/hicolor/scalable/mimetypes/application-x-velmora.svg; do
        [[ -f "$root/$f" ]] || fail "$name: $f missing"
    done
    xmllint --noout "$root"/usr/share/icons/hicolor/scalable/*/*.svg

    local desktop="$root/usr/share/applications/velmora.desktop"
    desktop-file-validate "$desktop" || fail "$name: desktop-file-validate"
    grep -qx 'Exec=/usr/bin/VexaLoader %f' "$desktop" || fail "$name: Exec line"
    grep -qx 'MimeType=application/x-velmora;' "$desktop" || fail "$name: MimeType line"
    grep -qx 'Icon=velmora' "$desktop" || fail "$name: Icon line"

    # The MIME database built from our package file alone must map result
    # files to our type.
    local mime="$scratch/$name-mime"
    mkdir -p "$mime/packages"
    xmllint --noout "$root/usr/share/mime/packages/velmora.xml"
    cp "$root/usr/share/mime/packages/velmora.xml" "$mime/packages/"
    update-mime-database "$mime" 2>/dev/null
    # One glob without the case-sensitive flag: ".Velmora" and ".velmora"
    # alike are result files.
    grep -qx '50:application/x-velmora:\*\.velmora' "$mime/globs2" ||
        fail "$name: globs2 has no case-blind *.velmora: $(cat "$mime/globs2")"
    # The documents Debian asks for, manual pages compressed.
    for f in usr/share/doc/velmora/copyright usr/share/doc/velmora/changelog.gz \
             usr/share/man/man1/VexaLoader.1.gz usr/share/man/man1/Tamsweld.1.gz; do
        [[ -f "$root/$f" ]] || fail "$name: $f missing"
    done
    gzip -t "$root"/usr/share/man/man1/{VexaLoader,Tamsweld}.1.gz "$root/usr/share/doc/velmora/changelog.gz" ||
        fail "$name: a compressed document is damaged"

    local policy="$root/usr/share/polkit-1/actions/org.velmora.tamsweld.run.policy"
    if [[ -f /usr/share/polkit-1/policyconfig-1.dtd ]]; then
        xmllint --noout --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd "$policy" ||
            fail "$name: policy against polkit's DTD"
    else
        xmllint --noout "$policy" || fail "$name: policy XML"
    fi
    local exec_path allow_gui
    exec_path=$(xmllint --xpath 'string(//action[@id="org.velmora.tamsweld.run"]/annotate[@key="org.freedesktop.policykit.exec.path"])' "$policy")
    allow_gui=$(xmllint --xpath 'string(//action[@id="org.velmora.tamsweld.run"]/annotate[@key="org.freedesktop.policykit.exec.allow_gui"])' "$policy")
    [[ "$exec_path" == /usr/lib/tamsweld/Tamsweld && "$allow_gui" == true ]] ||
        fail "$name: policy names '$exec_path' (allow_gui '$allow_gui')"
    if ! may_use_namespaces; then
        echo "no root or mount namespace: the action was checked against polkit's DTD only"
    elif polkit_installed; then
        pkaction_check "$policy" "$scratch/$name-polkit"
        echo "polkitd knows the action"
    elif [[ "${VELMORA_REQUIRE_TOOLS:-0}" == 1 ]]; then
        fail "polkitd, pkaction or dbus-daemon is not installed"
    else
        echo "polkitd is not installed: the action was checked against polkit's DTD only"
    fi

    # The launcher's exact call. The scratch root's program is not the one
    # the action names, so pkexec's generic action runs it through env.
    local home="$scratch/$name-home" app out expected
    mkdir -p "$home"
    app="$root/usr/lib/tamsweld/Tamsweld"
    out=$(env -i HOME="$home" LANG=C DISPLAY=:7 XAUTHORITY=/run/user/1000/xauth \
          "$root/usr/bin/VexaLoader" --dry-run /home/u/scan.Velmora)
    expected=$(printf '%s\n' /usr/bin/pkexec /usr/bin/env DISPLAY=:7 \
               XAUTHORITY=/run/user/1000/xauth "$app" 'en*loaderflag*' /home/u/scan.Velmora)
    [[ "$out" == "$expected" ]] || fail "$name: dry run printed:\n$out\nexpected:\n$expected"
    # pkexec starts the program in root's home: a relative path is made whole.
    out=$(cd "$home" && env -i HOME="$home" LANG=C "$root/usr/bin/VexaLoader" --dry-run a.Velmora)
    expected=$(printf '%s\n' /usr/bin/pkexec /usr/bin/env "$app" 'en*loaderflag*' "$home/a.Velmora")
    [[ "$out" == "$expected" ]] || fail "$name: dry run with a relative path printed:\n$out"
    out=$(env -i HOME="$home" LANG=C "$root/usr/bin/VexaLoader" --dry-run)
    expected=$(printf '%s\n' /usr/bin/pkexec /usr/bin/env "$app" 'en*loaderflag*')
    [[ "$out" == "$expected" ]] || fail "$name: dry run without a file printed:\n$out"
    [[ -z "$(ls -A "$home")" ]] || fail "$name: the dry run wrote into the home folder"

    # Opened directly, the program starts the launcher installed with it and
    # ends with 0. A double of the launcher writes down its arguments; it
    # runs detached, so it is given a moment to write.
    local launcher="$root/usr/bin/VexaLoader" marker="$scratch/$name-launcher.out"
    mv "$launcher" "$launcher.real"
    printf '#!/bin/sh\necho "started with $#" >"%s"\n' "$marker" >"$launcher"
    chmod 755 "$launcher"
    for first in none ""; do
        rm -f "$marker"
        if [[ "$first" == none ]]; then
            env -i HOME="$home" "$app" 2>/dev/null || fail "$name: Tamsweld without arguments failed"
        else
            env -i HOME="$home" "$app" "" 2>/dev/null || fail "$name: Tamsweld '' failed"
        fi
        for _ in $(seq 100); do [[ -s "$marker" ]] && break; sleep 0.1; done
        [[ "$(cat "$marker" 2>/dev/null)" == "started with 0" ]] ||
            fail "$name: Tamsweld ($first) did not start the launcher"
    done
    mv "$launcher.real" "$launcher"
}

check_root "$scratch/destdir" install
check_root "$scratch/deb" package
echo "installed files and package check out"
