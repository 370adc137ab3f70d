#!/usr/bin/env bash
# The part of check_apt_install.sh that runs in a mount and process
# namespace of its own: installs the package with apt into an overlay of the
# kept root and checks it there.
#   inside_root.sh KEPT_ROOT SCRATCH PACKAGE
set -euo pipefail
lower=$1 scratch=$2 deb=$3
root=$scratch/merged

fail() { printf 'FAIL: %b\n' "$*" >&2; exit 1; }

mount -t overlay overlay \
    -o "lowerdir=$lower,upperdir=$scratch/upper,workdir=$scratch/work" "$root"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount -t tmpfs tmpfs "$root/run"
mkdir -p "$root/run/dbus"

# in_root COMMAND...: runs in the root with a plain environment and no display.
in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}

cp "$deb" "$root/tmp/velmora.deb"
echo "== apt-get install"
in_root apt-get install -y -q --no-install-recommends /tmp/velmora.deb >"$scratch/install.log" 2>&1 ||
    { tail -n 40 "$scratch/install.log" >&2; fail "apt-get install failed"; }
in_root dpkg-query -W -f '${Status}' velmora | grep -qx 'install ok installed' ||
    fail "velmora is not installed after apt-get install"
in_root dpkg -L velmora >"$scratch/files"

echo "== menu entry"
in_root desktop-file-validate /usr/share/applications/velmora.desktop ||
    fail "the installed menu entry does not validate"
grep -qx 'Exec=/usr/bin/VexaLoader %f' "$root/usr/share/applications/velmora.desktop" ||
    fail "the menu entry does not start the installed launcher"

echo "== result files open with the launcher"
# The package's triggers have updated the machine's MIME and menu caches:
# GLib reads both, as the desktop does.
grep -qx '50:application/x-velmora:\*\.velmora' "$root/usr/share/mime/globs2" ||
    fail "the machine's MIME database has no case-blind *.velmora"
grep -q '^application/x-velmora=.*velmora\.desktop' "$root/usr/share/applications/mimeinfo.cache" ||
    fail "the menu cache does not offer the launcher for application/x-velmora"
mkdir -p "$root/tmp/results"
for name in scan.Velmora scan.velmora SCAN.VELMORA; do
    # Bytes that are not text, so that the name decides (GLib calls an empty
    # or plain-text file text/plain whatever its name).
    printf '\0\1\2\3velmora\0' >"$root/tmp/results/$name"
    type=$(in_root gio info -a standard::content-type "/tmp/results/$name" |
           sed -n 's/^ *standard::content-type: //p')
    [[ "$type" == application/x-velmora ]] || fail "$name is seen as '$type'"
done
in_root gio mime application/x-velmora >"$scratch/gio-mime" 2>&1 || true
grep -q "Default application for .application/x-velmora.: velmora.desktop" "$scratch/gio-mime" ||
    fail "application/x-velmora does not open with the launcher:\n$(cat "$scratch/gio-mime")"

echo "== polkit action"
# The machine's own bus and polkitd, started inside the root.
in_root dbus-daemon --system --fork --nopidfile >"$scratch/dbus.log" 2>&1 ||
    { cat "$scratch/dbus.log" >&2; fail "the root's dbus-daemon did not start"; }
in_root /usr/lib/polkit-1/polkitd --no-debug >"$scratch/polkitd.log" 2>&1 &
known=0
for _ in $(seq 150); do
    if in_root pkaction --verbose --action-id org.velmora.tamsweld.run >"$scratch/pkaction" 2>&1; then
        known=1
        break
    fi
    sleep 0.2
done
[[ $known == 1 ]] ||
    fail "pkaction does not list the action:\n$(cat "$scratch/pkaction" "$scratch/polkitd.log")"
grep -q "org.freedesktop.policykit.exec.path -> /usr/lib/tamsweld/Tamsweld" "$scratch/pkaction" ||
    fail "the action does not name the installed program:\n$(cat "$scratch/pkaction")"

echo "== the installed programs"
# Started by the launcher but without a display, the program says so.
status=0
in_root ASAN_OPTIONS=detect_leaks=0 /usr/lib/tamsweld/Tamsweld 'en*loaderflag*' \
    >"$scratch/nodisplay" 2>&1 || status=$?
[[ $status == 1 ]] && grep -q "needs a graphical display" "$scratch/nodisplay" ||
    fail "Tamsweld without a display ended with $status:\n$(cat "$scratch/nodisplay")"
# The action installed names the program, so pkexec is called on it
# directly; a lower-case result file is handed over.
out=$(in_root ASAN_OPTIONS=detect_leaks=0 /usr/bin/VexaLoader --dry-run /tmp/results/scan.velmora)
expected=$(printf '%s\n' /usr/bin/pkexec /usr/lib/tamsweld/Tamsweld 'en*loaderflag*' \
           /tmp/results/scan.velmora)
[[ "$out" == "$expected" ]] || fail "VexaLoader --dry-run printed:\n$out\nexpected:\n$expected"
for page in VexaLoader Tamsweld; do
    [[ -f "$root/usr/share/man/man1/$page.1.gz" ]] || fail "no manual page for $page"
done

echo "== apt-get remove"
in_root apt-get remove -y -q velmora >"$scratch/remove.log" 2>&1 ||
    { tail -n 40 "$scratch/remove.log" >&2; fail "apt-get remove failed"; }
rm -rf "$root/tmp/velmora.deb" "$root/tmp/results"
status=$(in_root dpkg-query -W -f '${Status}' velmora 2>/dev/null || true)
[[ -z "$status" || "$status" == "unknown ok not-installed" ]] ||
    fail "dpkg still knows velmora after removal: $status"
left=()
while IFS= read -r path; do
    # Folders the package shared with others stay.
    [[ -e "$root$path" && ! -d "$root$path" ]] && left+=("$path")
done <"$scratch/files"
[[ ${#left[@]} == 0 ]] || fail "files of the package left after removal:\n${left[*]}"
# Nothing of ours anywhere else either, nor in the caches the triggers made.
leftovers=$(cd "$root" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./run \) -prune -o \
    \( -iname '*velmora*' -o -iname '*tamsweld*' -o -iname '*vexaloader*' \) -print)
[[ -z "$leftovers" ]] || fail "left after removal:\n$leftovers"
cached=$(grep -rIl -i velmora "$root/usr/share/mime" "$root/usr/share/applications" \
         "$root/usr/share/icons" "$root/usr/share/polkit-1" 2>/dev/null || true)
[[ -z "$cached" ]] || fail "caches still name velmora after removal:\n$cached"
