#!/usr/bin/env bash
# Renders the main window to PNG files, without a display: idle with the
# photos added, during a batch (started with F5) and after it; also the empty
# window at start, the five menus and the results list scrolled to the ends
# of its lines; then the compare window the batch opened (at 100 %, at 400 %
# after a drag, on the next image), the guide window, and the
# profile-development window idle, during a run and paused.
#
#   scripts/render-windows.sh [OUTPUT_FOLDER] [IMAGE_FOLDER]
#
# OUTPUT_FOLDER defaults to a new folder under the temporary folder;
# IMAGE_FOLDER to the test photographs in tests/data/photos. The photos
# are only read; the batch writes into a temporary folder that is removed
# afterwards. With ORVEL_RENDER_XVFB=1 the program runs on a real X server
# (xvfb-run) instead of the offscreen platform and screen grabs are written
# too. BUILD_DIR (default: build) is the build folder to use. The program is
# tools/render_windows.cpp (target orvel_render_windows).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir="${BUILD_DIR:-build}"
output="${1:-$(mktemp -d "${TMPDIR:-/tmp}/orvel-windows-XXXXXX")}"
images="${2:-tests/data/photos}"

if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S . -B "$build_dir" -G Ninja >/dev/null
fi
cmake --build "$build_dir" --target orvel_render_windows >/dev/null

if [ "${ORVEL_RENDER_XVFB:-0}" = "1" ]; then
  xvfb-run -a -s "-screen 0 1600x1000x24" \
    env QT_QPA_PLATFORM=xcb "$build_dir/bin/orvel_render_windows" "$output" "$images" --screen
else
  QT_QPA_PLATFORM=offscreen "$build_dir/bin/orvel_render_windows" "$output" "$images"
fi
echo "PNG files in $output"
