#!/usr/bin/env bash
# Pictures of the program at work on a virtual desktop with a tray: the main window with its
# "More" menu open, and the compose window replying to the first message.
#   screenshots.sh <build dir> <artefact dir>
build="$1"
artefacts="$2"
tmp="$(mktemp -d)"
source "$(dirname "$0")/app_lib.sh"
need_tools Xvfb trayer xwininfo xdotool import
mkdir -p "$artefacts"

start_desktop tray
start_mailserver
store_settings 240 1  # auto get: the selected message is fetched when shown
panel_before=$(panel_windows)
start_app shots
pid=$app_pid
step "the tray icon" 20 icon_docked

read -r x y < <(icon_centre)
xc xdotool mousemove "$x" "$y" click 1
main_shown() { main=$(viewable_windows "$pid" Pellory | head -n1) && [[ -n "$main" ]]; }
step "the main window after a click on the icon" 20 main_shown
# No window manager here: give the window the keyboard ourselves.
focused() { [[ "$(xc xdotool getwindowfocus 2>/dev/null)" == "$1" ]]; }
xc xdotool windowfocus "$main"
step "the keyboard on the main window" 10 focused "$main"
xc xdotool key alt+m
# A popup menu is a top-level window named only for the application (the tray icon of the same
# name lives inside the panel); made when first opened.
menu_shown() {
  xc xwininfo -root -tree 2>/dev/null | grep -Eq '^     0x[0-9a-f]+ "dovrik": \("dovrik" "dovrik"\)  [0-9]{2,}x'
}
step "the More menu" 10 menu_shown
xc import -window root "$artefacts/app-main-menu.png"
echo "screenshot $artefacts/app-main-menu.png"

xc xdotool key r
compose_shown() { compose=$(viewable_windows "$pid" '^Reply' | head -n1) && [[ -n "$compose" ]]; }
step "the compose window replying" 10 compose_shown
xc import -window root "$artefacts/app-compose-reply.png"
echo "screenshot $artefacts/app-compose-reply.png"
xc xdotool windowfocus "$compose"
step "the keyboard on the compose window" 10 focused "$compose"
xc xdotool key Escape
compose_gone() { [[ -z "$(viewable_windows "$pid" '^Reply')" ]]; }
step "the compose window closed by Esc" 10 compose_gone
kill -TERM "$pid"
step "the program ended" 20 gone "$pid"
echo "PASSED"
