#!/usr/bin/env bash
# Runs the widget gallery, or a test program of the windows, on an X server
# of its own (Xvfb), as on a desktop.
#   run_under_xvfb.sh GALLERY OUTPUT_FOLDER
#   run_under_xvfb.sh TEST_PROGRAM [ARGUMENTS...]
set -euo pipefail
if ! command -v xvfb-run >/dev/null; then
    echo "xvfb-run is not installed (Debian package xvfb); skipped" >&2
    exit 77
fi
exec env QT_QPA_PLATFORM=xcb xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24" "$@"
