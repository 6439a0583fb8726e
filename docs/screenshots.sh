#!/usr/bin/env bash
# Screenshots of the window under Xvfb (needs xvfb, imagemagick and a CJK font such as
# fonts-noto-cjk). Usage: docs/screenshots.sh [build folder]   Writes docs/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
SHOTS=$BUILD/tests/window/vostral-window-shots
DISPLAY_NUMBER=:93

Xvfb $DISPLAY_NUMBER -screen 0 1400x760x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
trap 'kill $XVFB 2>/dev/null || true' EXIT
sleep 1

shot() { # output file, then the program and its arguments
  local out=$1
  shift
  DISPLAY=$DISPLAY_NUMBER "$@" >/dev/null 2>&1 &
  local pid=$!
  sleep 3
  DISPLAY=$DISPLAY_NUMBER import -window root "$out"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# The real program on a machine without sensor: its warning comes first.
shot docs/no-sensor-warning.png "$BUILD/vostral-monitor"
shot docs/window-cn.png "$SHOTS" values dialog
shot docs/window-en.png "$SHOTS" en values dialog
# The real program on a simulated LV51 (PM2.5 and PM10) for half a minute.
LIVE_SECONDS=30
DISPLAY=$DISPLAY_NUMBER "$BUILD/sim/vostral-sensor-sim" --type 130 --name LV51 --readings plausible -- \
  "$BUILD/vostral-monitor" >/dev/null 2>&1 &
LIVE=$!
sleep $LIVE_SECONDS
DISPLAY=$DISPLAY_NUMBER import -window root docs/window-live.png
kill $LIVE 2>/dev/null || true
wait $LIVE 2>/dev/null || true
echo "written: docs/no-sensor-warning.png docs/window-cn.png docs/window-en.png docs/window-live.png"
