#!/usr/bin/env bash
# Writes the pictures of docs/screenshots: runs the tests that draw every
# window and page in the states a user meets (offscreen, and under Xvfb with
# the real engine on loop-attached disks, which needs root), then copies
# them there scaled to at most 900 pixels wide and compressed (netpbm,
# pngquant, optipng: scripts/install-deps.sh).
#   scripts/update-screenshots.sh [BUILD_DIR]     (default build/ci)
# Look at every picture before committing them.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
out=docs/screenshots
max_width=900

for tool in pngtopnm pamfile pamscale pnmtopng pngquant optipng; do
    if ! command -v "$tool" >/dev/null; then
        echo "update-screenshots: $tool is missing (scripts/install-deps.sh)" >&2
        exit 1
    fi
done

targets=(test_windows test_browser test_ui_browser test_filelist test_appshell test_e2e_program)
real_targets=(test_browser_pictures_real test_browser_real test_filelist_real)
cmake --build "$build" -j 3 --target "${targets[@]}" "${real_targets[@]}"

lsan="suppressions=$PWD/tests/lsan.supp"
offscreen() {
    env QT_QPA_PLATFORM=offscreen LSAN_OPTIONS="$lsan" "$@" --gtest_brief=1
}
offscreen "$build/tests/test_windows" \
    --gtest_filter='ScreenshotsTest.*:RecoveryWindowsTest.Pictures:ProgressWindowTest.TextsByModeAndPicture:LoadProgressShotTest.*'
offscreen "$build/tests/test_browser" --gtest_filter='BrowserTest.ScreenshotDuringAScan'
offscreen "$build/tests/test_ui_browser" --gtest_filter='CoverFlowShots.*:GridMode.VisibleItems*'
offscreen "$build/tests/test_filelist" --gtest_filter='FileListShotsTest.*'
offscreen "$build/tests/test_appshell" --gtest_filter='UpdateWindowTest.*:AboutShotTest.*'
# The installed program on an X server of its own (Xvfb), its menu opened by
# the title bar's button.
LSAN_OPTIONS="$lsan" "$build/tests/test_e2e_program" --gtest_brief=1 \
    --gtest_filter='WizardWalk.ApplicationMenuFromTheTitleBarButton'

# The real engine on loop devices, on an X server of its own.
if [ "$(id -u)" -eq 0 ]; then
    for test in "$build/tests/work/test_browser_pictures_real" "$build/tests/test_browser_real" \
        "$build/tests/test_filelist_real"; do
        LSAN_OPTIONS="$lsan" tools/widget_gallery/run_under_xvfb.sh "$test" --gtest_brief=1
    done
else
    echo "update-screenshots: not root: the pictures of the real engine are kept as they are" >&2
fi

# Picture in the docs <- picture a test wrote (under $build/tests).
pictures=(
    "wizard_type_page.png window_shots/type_page.png"
    "wizard_disk_page.png window_shots/disk_page.png"
    "apfs_notice.png window_shots/apfs_notice.png"
    "browser_scanning.png window_shots/results_browser.png"
    "browser_finished_list.png window_shots/browser_real_list.png"
    "browser_finished_list_small.png window_shots/browser_real_list_small.png"
    "browser_deep_scan_offer.png window_shots/browser_real_deep_scan_offer.png"
    "browser_grid.png window_shots/browser_real_grid.png"
    "browser_grid_small.png window_shots/browser_real_grid_small.png"
    "browser_cover_flow.png window_shots/browser_real_cover_flow.png"
    "browser_cover_flow_small.png window_shots/browser_real_cover_flow_small.png"
    "preview.png window_shots/quick_preview_real.png"
    "recovery_progress.png window_shots/recovery_progress.png"
    "recovery_progress_stopping.png window_shots/recovery_progress_stop.png"
    "recovery_progress_no_space.png window_shots/recovery_progress_no_space.png"
    "recovery_finished.png window_shots/recovery_finished.png"
    "recovery_stopped.png window_shots/recovery_stopped.png"
    "save_progress.png window_shots/progress_window_save.png"
    "load_progress.png window_shots/progress_window_load.png"
    "about.png screenshots/about.png"
    "application_menu.png e2e_shots/application_menu.png"
    "update_checking.png screenshots/update_checking.png"
    "update_window.png screenshots/update_window.png"
)

mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
missing=0
for pair in "${pictures[@]}"; do
    name=${pair%% *}
    source="$build/tests/${pair#* }"
    if [ ! -f "$source" ]; then
        echo "update-screenshots: $source was not written" >&2
        missing=1
        continue
    fi
    pngtopnm "$source" >"$work/full.pnm" 2>/dev/null
    width=$(pamfile "$work/full.pnm" | grep -o '[0-9]* by' | cut -d' ' -f1)
    # Only wider pictures are scaled down; none is enlarged.
    if [ "$width" -gt "$max_width" ]; then
        pamscale -width "$max_width" -filter sinc "$work/full.pnm" >"$work/scaled.pnm"
    else
        cp "$work/full.pnm" "$work/scaled.pnm"
    fi
    pnmtopng "$work/scaled.pnm" >"$work/scaled.png" 2>/dev/null
    pngquant --force --strip --quality=65-95 --output "$out/$name" "$work/scaled.png" ||
        cp "$work/scaled.png" "$out/$name"
    # A photograph with fine noise does not fit in the quality asked: fewer
    # colours then.
    if [ "$(stat -c %s "$out/$name")" -gt 122880 ]; then
        pngquant --force --strip --output "$out/$name" 64 "$work/scaled.png"
    fi
    optipng -quiet -o2 "$out/$name"
    size=$(stat -c %s "$out/$name")
    if [ "$size" -gt 122880 ]; then
        echo "update-screenshots: $out/$name is $size bytes (over 120 KiB)" >&2
        missing=1
    fi
done
ls -l "$out"/*.png
exit "$missing"
