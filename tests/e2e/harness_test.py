#!/usr/bin/python3
"""The desktop harness against a small dialog of our own: reading, typing, pressing, a modal
window, the keyboard and mouse, a screenshot, the program's exit, and nothing left behind.

    harness_test.py <e2e_greeter> <artefact dir>
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "e2e"))

from desktop import SKIP, Failure, Skip, VirtualDesktop, alive, wait_for  # noqa: E402


def main(greeter, artefacts):
    from a11y import Screen

    try:
        with VirtualDesktop(tray=False) as desk:
            program = desk.launch("greeter", [greeter])
            screen = Screen(desk)
            app = screen.app(os.path.basename(greeter))
            window = screen.window(app, "Greeter")
            outcome = screen.widget(window, role="label")
            assert outcome.text() == "Nobody greeted yet", outcome.text()

            # Text set through the accessibility bus, button pressed through its action.
            name = screen.widget(window, "Name", "text")
            name.set_text("Ada")
            assert name.text() == "Ada", name.text()
            screen.widget(window, "Greet", "push button").press()
            screen.text_becomes(lambda: window.find(role="label"), "Hello, Ada!")

            # The real keyboard and mouse: focus the field, type, click the button.
            name.set_text("")
            name.focus()
            wait_for(lambda: name.has_state("focused"), 10, "the focus in the name field")
            desk.type_keys("Grace Hopper")
            screen.text_becomes(lambda: name, "Grace Hopper")
            screen.click(screen.widget(window, "Greet", "push button"))
            screen.text_becomes(lambda: window.find(role="label"), "Hello, Grace Hopper!")

            # An action that opens a modal window returns at once; the modal window is readable
            # and answerable from outside while the program waits in it.
            screen.widget(window, "Ask", "push button").press()
            question = screen.window(app, "Question")
            assert question.find(name="Are you sure?", role="label") is not None, question.dump()
            shot = screen.shot(os.path.join(artefacts, "e2e-harness-question.png"))
            assert os.path.getsize(shot) > 0
            screen.widget(question, "Yes", "push button").press()
            screen.gone(app, "Question")
            screen.text_becomes(lambda: window.find(role="label"), "Answer: yes")

            # Esc closes the dialog with Cancel: the program says so in its exit code.
            window.focus()
            desk.keys("Escape")
            assert program.wait_exit(10) == 3, program.errors()
            started = desk.family()
            assert len(started) >= 5, started  # X, both buses, the bus launcher, the program...
        assert not alive(started), f"left behind: {alive(started)}"
    except Skip as why:
        print(f"skipped: {why}")
        return SKIP
    except (Failure, AssertionError) as failure:
        print(f"FAILED: {failure}")
        return 1
    print("harness: read, typed, pressed, answered a modal window, closed; nothing left behind")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
