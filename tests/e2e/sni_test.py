#!/usr/bin/python3
"""The tray icon as a StatusNotifierItem: on a private session bus with a watcher that reports a
host (as KDE Plasma, GNOME with the AppIndicator extension and most Wayland desktops run) and no
X11 tray at all, the tray demo's icon must register, carry its picture and tooltip, export its
menu with every command, and act on what the host sends.

    sni_test.py <tray_e2e_demo> <artefact dir>
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "e2e"))

from desktop import SKIP, Failure, Skip, VirtualDesktop, wait_for  # noqa: E402


def main(demo, artefacts):
    try:
        import sni
    except ImportError as error:
        print(f"skipped: {error}")
        return SKIP
    try:
        with VirtualDesktop(tray=False, sni_watcher=True) as desk:
            program = desk.launch("demo", [demo])
            item = sni.wait_for_item(desk)
            print(f"item {item.bus_name} {item.path}")
            props = item.properties()
            assert props["Status"] == "Active", props["Status"]
            assert props["ToolTip"][2] == "Not checked yet", props["ToolTip"]
            icon = sni.save_icon(props, os.path.join(artefacts, "e2e-sni-icon.png"))
            assert icon[0] >= 16 and icon[1] >= 16, icon
            # The top left pixel of the demo's picture: opaque orange, in ARGB order.
            _, _, data = max(props["IconPixmap"], key=lambda p: p[0] * p[1])
            assert tuple(data[0:4]) == (255, 255, 200, 0), tuple(data[0:4])

            menu = item.menu_items()
            labels = [label for _, label, _, visible, kind in menu
                      if visible and kind != "separator"]
            assert labels == ["Check now", "Show", "Exit"], menu
            assert all(enabled for _, _, enabled, _, _ in menu), menu

            # What the host sends reaches the program: a click on the icon, a menu item.
            item.activate(10, 10)
            wait_for(lambda: "OnClick left" in program.output(), 10, "OnClick after Activate")
            item.click_menu_item("Check now")
            wait_for(lambda: "action Check now" in program.output(), 10, "the Check now item")
            item.click_menu_item("Exit")
            assert program.wait_exit(10) == 0, program.errors()
            wait_for(lambda: "unregistered" in desk.watcher.output(), 10,
                     "the item to leave the watcher")
    except Skip as why:
        print(f"skipped: {why}")
        return SKIP
    except (Failure, AssertionError, KeyError) as failure:
        print(f"FAILED: {failure!r}")
        return 1
    print("StatusNotifierItem: registered, icon, tooltip, menu, Activate and menu events work")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
