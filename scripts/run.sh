#!/usr/bin/env bash
# Installs what the program needs, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVELMORA_BUILD_BENCH=OFF
cmake --build build/release

# Started the way a user starts it: the launcher asks for the administrator
# password through polkit and starts the program with the user's language.
# Without a polkit agent to ask (or without polkit), it runs as root
# directly. Arguments: an optional result file (.Velmora) to open.
bin="$PWD/build/release/bin"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "Velmora is a desktop program: run this from a graphical session, or under" >&2
    echo "Xvfb (xvfb-run -a bash scripts/run.sh). It is built in build/release/bin." >&2
    exit 1
fi

polkit_agent() {
    # pkexec answers from a terminal itself when no graphical agent runs.
    [[ -t 0 ]] && return 0
    pgrep -u "$(id -u)" -f 'polkit.*agent|lxpolkit|xfce-polkit|gnome-shell|cinnamon' >/dev/null
}
if [[ $(id -u) != 0 ]] && command -v pkexec >/dev/null &&
    pkaction --action-id org.freedesktop.policykit.exec >/dev/null 2>&1 && polkit_agent; then
    exec "$bin/VexaLoader" "$@"
fi

# The launcher's own choice of language and its argument list, run directly.
mapfile -t plan < <("$bin/VexaLoader" --dry-run "$@")
app=$(realpath "$bin/Tamsweld")
args=()
for ((i = 0; i < ${#plan[@]}; i++)); do
    if [[ "${plan[i]}" == "$app" ]]; then
        args=("${plan[@]:i+1}")
        break
    fi
done
[[ ${#args[@]} -gt 0 ]] || args=('en*loaderflag*')
if [[ $(id -u) == 0 ]]; then
    exec "$app" "${args[@]}"
fi
echo "run.sh: no polkit agent to ask for the password; running as root through sudo." >&2
exec sudo --preserve-env=DISPLAY,XAUTHORITY "$app" "${args[@]}"
