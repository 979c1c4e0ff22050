// The virtual message tab strip: tab semantics (captions, selection, change signal, keys, wheel,
// scrolling) and what assistive technology sees of it.
#include "ui/message_tab_bar.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

namespace dovrik {
namespace {

class TabBarTest : public ::testing::Test {
 protected:
  TabBarTest() {
    bar_.resize(300, bar_.sizeHint().height());
    bar_.show();
  }
  void Wheel(int delta) {
    const QPointF at(10, 5);
    QWheelEvent event(at, bar_.mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&bar_, &event);
  }
  QToolButton* Arrow(Qt::ArrowType type) {
    for (auto* b : bar_.findChildren<QToolButton*>()) {
      if (b->arrowType() == type) return b;
    }
    return nullptr;
  }
  // The visible tabs are exactly those whose rectangles lie in the strip, and tabAt finds each.
  void ExpectVisibleTabsFound() {
    for (int i = bar_.firstVisible(); i <= bar_.lastVisible(); ++i) {
      const QRect r = bar_.tabRect(i);
      ASSERT_FALSE(r.isEmpty()) << i;
      EXPECT_EQ(bar_.tabAt(QPoint(r.left() + 1, r.center().y())), i);  // the last may be cut
    }
  }

  MessageTabBar bar_;
};

TEST_F(TabBarTest, CountCaptionsAndTheFirstTabSelected) {
  QSignalSpy changed(&bar_, &MessageTabBar::currentChanged);
  EXPECT_EQ(bar_.currentIndex(), -1);
  bar_.setCount(3);
  EXPECT_EQ(bar_.count(), 3);
  EXPECT_EQ(bar_.currentIndex(), 0);
  EXPECT_EQ(MessageTabBar::tabText(0), "Message #0");
  EXPECT_EQ(MessageTabBar::tabText(99999), "Message #99999");
  ASSERT_EQ(changed.size(), 1);
  EXPECT_EQ(changed[0][0].toInt(), 0);

  bar_.setCurrentIndex(2);
  bar_.setCurrentIndex(2);  // no change, no signal
  bar_.setCurrentIndex(3);  // out of range: ignored
  bar_.setCurrentIndex(-1);
  EXPECT_EQ(bar_.currentIndex(), 2);
  EXPECT_EQ(changed.size(), 2);

  bar_.setCount(5);  // a rebuild starts again at the first tab
  EXPECT_EQ(bar_.currentIndex(), 0);
  bar_.setCount(0);
  EXPECT_EQ(bar_.currentIndex(), -1);
  EXPECT_EQ(changed.size(), 4);
  EXPECT_EQ(changed.back()[0].toInt(), -1);
}

TEST_F(TabBarTest, KeysAndWheelMoveTheSelection) {
  bar_.setCount(1000);
  struct Case {
    int from;
    int key;
    Qt::KeyboardModifiers modifiers;
    int to;
  };
  const Case cases[] = {
      {5, Qt::Key_Right, Qt::NoModifier, 6},         {5, Qt::Key_Left, Qt::NoModifier, 4},
      {0, Qt::Key_Left, Qt::NoModifier, 0},          {999, Qt::Key_Right, Qt::NoModifier, 999},
      {5, Qt::Key_Home, Qt::NoModifier, 0},          {5, Qt::Key_End, Qt::NoModifier, 999},
      {5, Qt::Key_PageDown, Qt::ControlModifier, 6}, {5, Qt::Key_PageUp, Qt::ControlModifier, 4},
      {5, Qt::Key_PageDown, Qt::NoModifier, 5},
  };
  for (const Case& c : cases) {
    bar_.setCurrentIndex(c.from);
    QTest::keyClick(&bar_, static_cast<Qt::Key>(c.key), c.modifiers);
    EXPECT_EQ(bar_.currentIndex(), c.to) << c.from << " key " << c.key;
  }
  bar_.setCurrentIndex(5);
  Wheel(-120);
  EXPECT_EQ(bar_.currentIndex(), 6);
  Wheel(120);
  EXPECT_EQ(bar_.currentIndex(), 5);
  Wheel(60);  // half a notch does nothing yet; the second half steps
  EXPECT_EQ(bar_.currentIndex(), 5);
  Wheel(60);
  EXPECT_EQ(bar_.currentIndex(), 4);
}

TEST_F(TabBarTest, AnyTabCanBeScrolledToClickedAndFound) {
  bar_.setCount(100000);
  EXPECT_GT(bar_.tabRect(10).width(), bar_.tabRect(9).width());  // one digit more
  EXPECT_EQ(bar_.firstVisible(), 0);
  ExpectVisibleTabsFound();
  ASSERT_NE(Arrow(Qt::RightArrow), nullptr);
  EXPECT_TRUE(Arrow(Qt::RightArrow)->isVisible());
  EXPECT_FALSE(Arrow(Qt::LeftArrow)->isEnabled());

  Arrow(Qt::RightArrow)->click();  // the arrows scroll the view, not the selection
  EXPECT_EQ(bar_.firstVisible(), 1);
  EXPECT_EQ(bar_.currentIndex(), 0);
  EXPECT_TRUE(Arrow(Qt::LeftArrow)->isEnabled());

  for (int target : {99999, 54321, 10, 0}) {
    bar_.setCurrentIndex(target);
    EXPECT_LE(bar_.firstVisible(), target);
    EXPECT_GE(bar_.lastVisible(), target);
    const QRect r = bar_.tabRect(target);
    EXPECT_GE(r.left(), 0);
    EXPECT_LE(r.right(), Arrow(Qt::LeftArrow)->x());  // whole, left of the arrows
    ExpectVisibleTabsFound();
  }
  EXPECT_FALSE(Arrow(Qt::LeftArrow)->isEnabled());

  bar_.setCurrentIndex(99999);
  EXPECT_FALSE(Arrow(Qt::RightArrow)->isEnabled());
  const int neighbour = bar_.firstVisible();
  QTest::mouseClick(&bar_, Qt::LeftButton, {}, bar_.tabRect(neighbour).center());
  EXPECT_EQ(bar_.currentIndex(), neighbour);
  EXPECT_EQ(bar_.tabAt(QPoint(Arrow(Qt::RightArrow)->x() + 2, 5)), -1);  // arrows are no tab
}

TEST_F(TabBarTest, FewTabsNeedNoArrowsAndAWiderStripScrollsBack) {
  bar_.setCount(2);
  EXPECT_FALSE(Arrow(Qt::RightArrow)->isVisible());
  EXPECT_EQ(bar_.lastVisible(), 1);
  bar_.setCount(40);
  bar_.setCurrentIndex(39);
  EXPECT_GT(bar_.firstVisible(), 0);
  bar_.resize(bar_.tabRect(39).right() + bar_.tabRect(0).width() * 100, bar_.height());
  EXPECT_EQ(bar_.firstVisible(), 0);  // everything fits: no tabs hidden on the left
  EXPECT_FALSE(Arrow(Qt::RightArrow)->isVisible());
}

TEST_F(TabBarTest, AssistiveTechnologyReadsAndSelectsTabs) {
  bar_.setCount(100000);
  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&bar_);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->role(), QAccessible::PageTabList);
  EXPECT_EQ(list->childCount(), 100000);

  QAccessibleInterface* tab = list->child(77777);
  ASSERT_NE(tab, nullptr);
  EXPECT_EQ(tab->role(), QAccessible::PageTab);
  EXPECT_EQ(tab->text(QAccessible::Name), "Message #77777");
  EXPECT_EQ(tab->parent(), list);
  EXPECT_EQ(list->indexOfChild(tab), 77777);
  EXPECT_EQ(list->child(77777), tab);  // made once, then kept
  EXPECT_FALSE(tab->state().selected);
  EXPECT_TRUE(tab->state().offscreen);
  EXPECT_TRUE(list->child(0)->state().selected);

  QSignalSpy changed(&bar_, &MessageTabBar::currentChanged);
  QAccessibleActionInterface* actions = tab->actionInterface();
  ASSERT_NE(actions, nullptr);
  ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
  actions->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(bar_.currentIndex(), 77777);
  EXPECT_EQ(changed.size(), 1);
  EXPECT_TRUE(tab->state().selected);
  EXPECT_FALSE(tab->state().offscreen);
  const QRect r = tab->rect();
  EXPECT_EQ(list->childAt(r.center().x(), r.center().y()), tab);

  bar_.setCount(3);  // a tab past the new count is no longer valid
  EXPECT_FALSE(tab->isValid());
  EXPECT_EQ(list->childCount(), 3);
  EXPECT_EQ(list->child(3), nullptr);
}

}  // namespace
}  // namespace dovrik
