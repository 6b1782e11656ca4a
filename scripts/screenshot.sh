#!/usr/bin/env bash
# The README's picture of the window with its test bench panel: padix serving an OBD program on a
# pseudo-terminal of its own under a virtual X server, a client's request and its answer in the
# traffic view, as the window test sees it. Usage: scripts/screenshot.sh [BUILD_DIR] (default
# build/); writes docs/panel.png. Needs xvfb-run (xvfb, xauth).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
command -v xvfb-run >/dev/null || { echo "xvfb-run not found (packages xvfb and xauth)" >&2; exit 1; }
scripts/build.sh --target padix --target test_gtk_window --target device_picture "$dir" >/dev/null
bin=$(cd "$dir" && pwd)
rm -f "$bin/gtk_window_panel.png"
# The panel's setting of this run stays in a folder of its own.
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
(cd "$bin" && XDG_CONFIG_HOME=$config PADIX_BIN_DIR=$bin xvfb-run -a -s "-screen 0 1280x1024x24" \
  ./test_gtk_window --gtest_filter='GtkPanel.TrafficHoldsTheExchangeAClientJustMade' >/dev/null)
cp "$bin/gtk_window_panel.png" docs/panel.png
echo "docs/panel.png"
