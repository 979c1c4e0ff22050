#!/usr/bin/env bash
# A desktop without a tray: the main window shows at start; when a tray appears later the icon
# docks in it.
#   no_tray.sh <build dir> <artefact dir>
build="$1"
artefacts="$2"
tmp="$(mktemp -d)"
source "$(dirname "$0")/app_lib.sh"
need_tools Xvfb trayer xwininfo xdotool import
mkdir -p "$artefacts"

start_desktop
start_mailserver
store_settings 240
start_app notray
pid=$app_pid
shown() { viewable_windows "$pid" Pellory | grep -q .; }
step "the main window shown without a tray" 20 shown
xc import -window root "$artefacts/app-no-tray.png"

trayer --edge top --align right --widthtype pixel --width 160 --heighttype pixel --height 40 \
  --SetDockType true --transparent false --tint 0x404040 >"$tmp/trayer.out" 2>&1 &
pids+=($!)
step "the tray panel" 10 panel_ready
panel_before=0
step "the icon docked in the late tray" 20 icon_docked
alive "$pid" || fail "the program ended"
echo "PASSED"
