#!/usr/bin/env bash
# Opens the Receiptora window on a virtual 96 dpi display and saves a screenshot of it.
#   bash tools/window_screenshot.sh [shots/window.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-shots/window.png}
mkdir -p "$(dirname "$out")"
bash scripts/setup
xvfb-run -a -s "-screen 0 1280x900x24 -dpi 96 -nolisten tcp" bash -c '
  .venv/bin/python -m receiptora --standalone >/dev/null &
  app=$!
  sleep 4
  import -window root "$0"
  kill $app' "$out"
echo "$out"
