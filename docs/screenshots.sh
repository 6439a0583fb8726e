#!/usr/bin/env bash
# Screenshots of the real program for the README, taken under Xvfb with the openbox window
# manager (so the title bar shows) and driven through its own menus with xdotool.
#
#   docs/screenshots.sh [build folder]        (default: build; takes about 12 minutes)
#
# Needs a built tree and: xvfb openbox xdotool imagemagick fonts-noto-cjk (Chinese texts).
# The monitor runs on the simulated LV51 (build/sim/vostral-sensor-sim) with 600 history values.
# Writes into docs/:
#   no-sensor-warning.png  the warning when no sensor is found
#   live-cn.png            live readings after LIVE_SECONDS (default 300), in Chinese
#   live-en.png            the same after Help > Language > English
#   device-info.png        DeviceInfo > LV51
#   zoomed-out.png         Zoom > Time zoom out, after ZOOM_SECONDS more (default 300)
#   history.png            Collect > Collect historical data, right after the download
#   hidpi-200.png          live readings at 200 % scaling (QT_SCALE_FACTOR=2, 2600x1700 screen)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
MONITOR=$BUILD/vostral-monitor
SIM=("$BUILD/sim/vostral-sensor-sim" --type 130 --name LV51 --readings plausible --history 600 --)
LIVE_SECONDS=${LIVE_SECONDS:-300}
ZOOM_SECONDS=${ZOOM_SECONDS:-300}

for tool in Xvfb openbox xdotool import xwininfo; do
  command -v "$tool" >/dev/null || {
    echo "$tool is missing: sudo apt-get install xvfb openbox xdotool imagemagick x11-utils" >&2
    exit 1
  }
done
[ -x "$MONITOR" ] && [ -x "${SIM[0]}" ] || { echo "build first: $MONITOR, ${SIM[0]}" >&2; exit 1; }

XVFB_PID=
WM_PID=
APP_PID=
stop() {
  for pid in $APP_PID $WM_PID $XVFB_PID; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  APP_PID= WM_PID= XVFB_PID=
}
trap stop EXIT

# A screen of the given size with openbox; Xvfb picks a free display and tells its number. At a
# scale of 2 openbox draws its title text twice as large too, as a 200 % desktop would.
start_screen() { # size, scale
  exec 3< <(Xvfb -displayfd 1 -screen 0 "$1x24" -nolisten tcp 2>/dev/null)
  XVFB_PID=$!
  local number config
  read -r -t 10 number <&3
  export DISPLAY=:$number
  config=$(mktemp)
  perl -pe 's|<size>(\d+)</size>|"<size>" . $1 * '"${2:-1}"' . "</size>"|e' /etc/xdg/openbox/rc.xml >"$config"
  openbox --config-file "$config" >/dev/null 2>&1 &
  WM_PID=$!
  sleep 1
  rm -f "$config"
}

start_program() { # the program and its arguments
  "$@" >/dev/null 2>&1 &
  APP_PID=$!
}

# The id of the first window whose title matches, waiting for it up to 20 s.
window_of() {
  local id=
  for _ in $(seq 100); do
    id=$(xdotool search --name "$1" 2>/dev/null | head -1) && [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "$id" ] || { echo "no window \"$1\"" >&2; exit 1; }
  echo "$id"
}

# Saves the part of the screen that the window takes, title bar and frame included.
shoot() { # window id, output file
  local frame geometry
  frame=$(xwininfo -id "$1" -tree | awk '/Parent window id/ {print $4}')
  geometry=$(xwininfo -id "$frame" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /Width:/ {w=$NF} /Height:/ {h=$NF} END {printf "%dx%d+%d+%d", w, h, x, y}')
  import -window root -crop "$geometry" +repage -strip -define png:compression-level=9 "$2"
  echo "written: $2"
}

# Opens menu number N of the menu bar (0 = File) with the mouse on File and the arrow keys, then
# types the keys given. Keys need a pause between them or the menu drops some.
menu() { # window id, scale, menu number, keys...
  local id=$1 scale=$2 n=$3
  shift 3
  xdotool mousemove --window "$id" $((20 * scale)) $((12 * scale)) click 1
  sleep 0.8
  for ((i = 0; i < n; i++)); do
    xdotool key Right
    sleep 0.4
  done
  for key in "$@"; do
    xdotool key "$key"
    sleep 0.4
  done
  xdotool mousemove 0 0 # away from the window: no hover highlight in the picture
  sleep 1
}

# The program's status bar, as an image checksum: it changes when the download has finished.
status_sum() { # window id, scale
  local geometry
  geometry=$(xwininfo -id "$1" | awk -v s="$2" '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /Width:/ {w=$NF} /Height:/ {h=$NF} END {printf "%dx%d+%d+%d", w / 2, 20 * s, x, y + h - 22 * s}')
  import -window root -crop "$geometry" +repage rgb:- | md5sum
}

# 1. No sensor: the warning comes before the window.
start_screen 1280x800
start_program "$MONITOR"
WARNING=$(window_of 设备打开失败)
sleep 2
shoot "$WARNING" docs/no-sensor-warning.png
stop

# 2. The simulated LV51 at 100 %.
start_screen 1280x800
start_program "${SIM[@]}" "$MONITOR"
WIN=$(window_of 'V5.10')
sleep "$LIVE_SECONDS"
shoot "$WIN" docs/live-cn.png
menu "$WIN" 1 5 Right Down Return # Help > Language > English
shoot "$WIN" docs/live-en.png
menu "$WIN" 1 3 Return # DeviceInfo > LV51
shoot "$WIN" docs/device-info.png
xdotool key Return # OK
sleep "$ZOOM_SECONDS"
menu "$WIN" 1 1 Down Return # Zoom > Time zoom out
shoot "$WIN" docs/zoomed-out.png
menu "$WIN" 1 4 Down Return # Collect > Collect historical data
READING=$(status_sum "$WIN" 1) # "Reading history data..." until the download ends
for _ in $(seq 600); do
  [ "$(status_sum "$WIN" 1)" != "$READING" ] && break
  sleep 0.5
done
sleep 0.5
shoot "$WIN" docs/history.png
stop

# 3. 200 % scaling on a large screen.
start_screen 2600x1700 2
start_program env QT_SCALE_FACTOR=2 "${SIM[@]}" "$MONITOR"
WIN=$(window_of 'V5.10')
sleep 120
shoot "$WIN" docs/hidpi-200.png
stop
