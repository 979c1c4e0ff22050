// What screen readers and desktop automation see of the message tabs: a page tab list whose
// children, one "Message #i" page tab per message, are made only when asked for. A tab can be
// read (name, selected state, place on screen) and selected (its press action).
#pragma once

namespace dovrik {

class MessageTabBar;

// Idempotent; the tab bar calls it when it is made.
void InstallMessageTabBarAccessibility();
// Notifications for assistive technology; nothing happens when none listens.
void MessageTabBarAccessibilityReset(MessageTabBar* bar);
void MessageTabBarAccessibilitySelected(MessageTabBar* bar, int index);

}  // namespace dovrik
