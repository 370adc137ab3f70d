#!/usr/bin/env bash
# The launcher against the real pkexec and polkitd: installed with its polkit
# action, it starts the application as root with exactly its arguments and
# the user's display, and a refused authorization starts nothing. polkitd
# and its system bus run privately, in a mount namespace of our own where
# the action folder, the rules folder and /run/dbus are ours, so the
# machine's polkit and bus are not touched. The application is replaced by a
# double that writes down what it received.
#   check_pkexec.sh BUILD_DIR
# Exit 77 (skip) without root, unshare, dbus-daemon, pkexec or polkitd.
set -euo pipefail
build=$(realpath "$1")
fail() { printf 'FAIL: %b\n' "$*" >&2; exit 1; }
skip() {
    [[ "${VELMORA_REQUIRE_TOOLS:-0}" == 1 ]] && fail "$*"
    echo "SKIP: $*"; exit 77
}
# Root and mount namespaces are the machine's to give: their absence skips
# even where every tool is required.
if [[ $(id -u) != 0 ]] || ! unshare --mount --propagation private true 2>/dev/null; then
    echo "SKIP: needs root and a mount namespace of its own"; exit 77
fi
for tool in unshare setpriv dbus-daemon pkexec pkaction; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[[ -x /usr/lib/polkit-1/polkitd && -f /usr/share/dbus-1/system.conf ]] || skip "polkitd is not installed"
[[ -d /usr/share/polkit-1/actions && -d /etc/polkit-1/rules.d && -d /run/dbus ]] ||
    skip "polkit's folders are missing"

scratch=$(realpath "$(mktemp -d)")
trap 'rm -rf "$scratch"' EXIT
# polkitd drops to its own user and must read in here.
chmod 755 "$scratch"
prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
app="$prefix/lib/tamsweld/Tamsweld"
cat >"$app" <<DOUBLE
#!/bin/sh
{ echo "uid=\$(id -u)"; echo "DISPLAY=\$DISPLAY"; echo "XAUTHORITY=\$XAUTHORITY"
  echo "args=\$#"; for a in "\$@"; do echo "arg=\$a"; done; } > "$scratch/app.out"
DOUBLE
chmod 755 "$app"
mkdir -m 755 "$scratch/actions" "$scratch/allow" "$scratch/deny"
cp "$prefix/share/polkit-1/actions/org.velmora.tamsweld.run.policy" "$scratch/actions/"
# The user answers the password dialog through these rules: no agent runs.
for answer in allow:YES deny:NO; do
    cat >"$scratch/${answer%%:*}/00-velmora.rules" <<RULES
polkit.addRule(function(action, subject) {
    if (action.id == "org.velmora.tamsweld.run")
        return polkit.Result.${answer#*:};
});
RULES
done
mkdir -m 755 "$scratch/home"
touch "$scratch/home/xauth"

cat >"$scratch/inner.sh" <<'INNER'
set -u
scratch=$1 rules=$2 file=$3
mount --bind "$scratch/actions" /usr/share/polkit-1/actions
mount --bind "$scratch/$rules" /etc/polkit-1/rules.d
mount -t tmpfs -o mode=755 tmpfs /run/dbus
dbus-daemon --config-file=/usr/share/dbus-1/system.conf --nopidfile --fork --print-pid \
    >"$scratch/dbus.pid"
/usr/lib/polkit-1/polkitd --no-debug >"$scratch/polkitd.log" 2>&1 &
polkitd=$!
# Neither outlives this script, also when it is stopped.
trap 'kill "$polkitd" "$(cat "$scratch/dbus.pid")" 2>/dev/null' EXIT TERM INT
# polkitd takes its name on the bus a moment after it starts.
for _ in $(seq 100); do
    pkaction --action-id org.velmora.tamsweld.run >/dev/null 2>&1 && break
    sleep 0.1
done
args=()
[[ -n "$file" ]] && args+=("$file")
# As an ordinary user: root would be let through whatever the rules say.
env -i HOME="$scratch/home" LANG=C PATH=/usr/bin:/bin DISPLAY=:7 QT_QPA_PLATFORM=offscreen \
    XAUTHORITY="$scratch/home/xauth" VELMORA_LAUNCHER_ALERTS="$scratch/alerts" \
    setpriv --reuid=nobody --regid=nogroup --clear-groups \
    "$scratch/prefix/bin/VexaLoader" "${args[@]}"
echo "launcher=$?" >"$scratch/launcher.out"
true
INNER

# run allow|deny FILE [STATUS]: the launcher's exit status must be STATUS (0).
run() {
    rm -f "$scratch/app.out" "$scratch/launcher.out"
    # The launcher runs as nobody; the alerts file is made for it.
    : >"$scratch/alerts"
    chmod 666 "$scratch/alerts"
    timeout 60 unshare --mount --propagation private bash "$scratch/inner.sh" "$scratch" "$1" "$2"
    [[ "$(cat "$scratch/launcher.out")" == "launcher=${3:-0}" ]] ||
        fail "the launcher ended with $(cat "$scratch/launcher.out"), not ${3:-0}"
}

run allow ""
expected=$(printf '%s\n' uid=0 DISPLAY=:7 "XAUTHORITY=$scratch/home/xauth" args=1 'arg=en*loaderflag*')
[[ "$(cat "$scratch/app.out")" == "$expected" ]] ||
    fail "started without a file, the program got:\n$(cat "$scratch/app.out")"

run allow "/home/u/My scan.Velmora"
expected=$(printf '%s\n' uid=0 DISPLAY=:7 "XAUTHORITY=$scratch/home/xauth" args=2 \
           'arg=en*loaderflag*' 'arg=/home/u/My scan.Velmora')
[[ "$(cat "$scratch/app.out")" == "$expected" ]] ||
    fail "started with a file, the program got:\n$(cat "$scratch/app.out")"

run deny "/home/u/My scan.Velmora" 1
[[ ! -e "$scratch/app.out" ]] || fail "a refused authorization started the program"
# The refusal is told to the user, in the window the alerts file stands for.
grep -q "administrator right was refused" "$scratch/alerts" ||
    fail "a refused authorization was not told to the user"
echo "pkexec starts the program with its arguments and display, and a refusal starts nothing"
