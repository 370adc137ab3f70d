#!/usr/bin/env bash
# Fails when a tracked C or C++ source differs from what clang-format makes of
# it with the repository's .clang-format. Lists the files and the command
# that mends them. Versions of clang-format disagree on details, so the check
# uses the one the build machine installs (Debian 12's clang-format 14).
#   CLANG_FORMAT=path   another clang-format binary
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=${CLANG_FORMAT:-clang-format}
if ! command -v "$clang_format" >/dev/null; then
    echo "check-format: $clang_format not found (scripts/install-deps.sh installs it)" >&2
    exit 1
fi

mapfile -t files < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
# One run over every file; clang-format names each file that differs.
status=0
report=$("$clang_format" --dry-run -Werror "${files[@]}" 2>&1) || status=$?
mapfile -t bad < <(printf '%s\n' "$report" |
    sed -n 's/^\([^ :][^:]*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' | sort -u)
if [ "$status" -ne 0 ] && [ "${#bad[@]}" -eq 0 ]; then
    printf '%s\n' "$report" | head -n 20 >&2
    echo "check-format: $clang_format failed" >&2
    exit 1
fi

if [ "${#bad[@]}" -ne 0 ]; then
    echo "check-format: ${#bad[@]} of ${#files[@]} sources are not formatted:" >&2
    printf '  %s\n' "${bad[@]}" >&2
    echo "mend with: clang-format -i ${bad[*]}" >&2
    exit 1
fi
echo "check-format: ${#files[@]} sources formatted"
