#!/usr/bin/env bash
# End to end on a real tray: Xvfb, trayer as the tray host, and the demo's tray icon. A left click
# must raise OnClick, a right click must open the menu; a screenshot of the screen with the menu
# open is kept as an artefact.
#   tray_e2e.sh <tray_e2e_demo> <artefact dir>
set -euo pipefail
demo="$1"
artefacts="$2"
for tool in Xvfb trayer xdotool xwininfo import; do
  command -v "$tool" >/dev/null || { echo "$tool not found: skipped"; exit 77; }
done
mkdir -p "$artefacts"
tmp="$(mktemp -d)"
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

# Polls a condition every 50 ms for at most $1 seconds.
wait_for() {
  local limit=$(($1 * 20)) i
  shift
  for ((i = 0; i < limit; i++)); do
    if "$@"; then return 0; fi
    sleep 0.05
  done
  echo "timed out waiting for: $*" >&2
  return 1
}
has_line() { grep -q "$1" "$tmp/demo.out"; }

mkdir -m 700 "$tmp/run"
export XDG_RUNTIME_DIR="$tmp/run"
Xvfb -displayfd 3 -screen 0 640x240x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.err" &
pids+=($!)
wait_for 10 test -s "$tmp/display"
export DISPLAY=":$(head -n1 "$tmp/display")"
echo "display $DISPLAY"

trayer --edge top --align right --widthtype pixel --width 160 --heighttype pixel --height 40 \
  --SetDockType true --transparent false --tint 0x404040 >"$tmp/trayer.out" 2>&1 &
pids+=($!)
wait_for 10 sh -c 'xwininfo -root -tree | grep -q "\"panel\""'

QT_QPA_PLATFORM=xcb "$demo" >"$tmp/demo.out" 2>"$tmp/demo.err" &
pids+=($!)
if ! wait_for 15 has_line '^geometry '; then cat "$tmp/demo.out" "$tmp/demo.err"; exit 1; fi
read -r _ x y w h < <(grep '^geometry ' "$tmp/demo.out" | head -n1)
cx=$((x + w / 2))
cy=$((y + h / 2))
echo "icon at $x,$y ${w}x$h"

xdotool mousemove "$cx" "$cy" click 1
if ! wait_for 10 has_line '^OnClick left'; then cat "$tmp/demo.out" "$tmp/demo.err"; exit 1; fi
echo "left click: $(grep '^OnClick left' "$tmp/demo.out")"

xdotool mousemove "$cx" "$cy" click 3
if ! wait_for 10 has_line '^menu shown'; then cat "$tmp/demo.out" "$tmp/demo.err"; exit 1; fi
# The menu is mapped once it shows; wait until the server has it on screen, then take the picture.
wait_for 10 sh -c 'xdotool search --onlyvisible --class tray_e2e_demo | grep -q .'
import -window root "$artefacts/tray-e2e.png"
echo "screenshot $artefacts/tray-e2e.png"
if grep -q '^OnClick right' "$tmp/demo.out"; then echo "right click raised OnClick" >&2; exit 1; fi

# Pick "Exit" from the open menu: the demo ends by itself.
xdotool key Up Return
if ! wait_for 10 has_line '^action Exit'; then cat "$tmp/demo.out" "$tmp/demo.err"; exit 1; fi
cat "$tmp/demo.out"
