#include "components/rx_tray.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <optional>
#include <stdexcept>

#include "components/popup_menu.h"
#include "components/timer_thread.h"
#include "tests/components/recording_tray.h"

namespace dovrik {
namespace {

using testing::RecordingTray;
using testing::SolidIcon;
using testing::TrayCall;

class TrayTest : public ::testing::Test {
 protected:
  TrayTest() {
    auto adapter = std::make_unique<RecordingTray>();
    rec_ = adapter.get();
    tray_ = std::make_unique<TRxTray>(nullptr, std::move(adapter));
  }
  std::vector<TrayCall>& calls() { return rec_->calls; }

  RecordingTray* rec_;
  std::unique_ptr<TRxTray> tray_;
};

TEST_F(TrayTest, EmptyIconKeepsItOutAssigningAddsClearingRemoves) {
  tray_->Loaded();
  EXPECT_FALSE(tray_->InTray());
  for (const TrayCall& c : calls()) EXPECT_NE(c.kind, TrayCall::kAdd);

  const QIcon icon = SolidIcon(Qt::red);
  tray_->SetHint("Not checked yet");
  calls().clear();
  tray_->SetIcon(icon);
  EXPECT_TRUE(tray_->InTray());
  ASSERT_FALSE(calls().empty());
  EXPECT_EQ(calls().back().kind, TrayCall::kAdd);
  EXPECT_EQ(calls().back().icon, icon.cacheKey());
  EXPECT_EQ(calls().back().tip, "Not checked yet");

  calls().clear();
  tray_->SetIcon(QIcon());
  EXPECT_FALSE(tray_->InTray());
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].kind, TrayCall::kRemove);

  // Active false takes it out; true puts it back.
  tray_->SetIcon(icon);
  tray_->SetActive(false);
  EXPECT_FALSE(tray_->InTray());
  tray_->SetHint("while inactive");
  EXPECT_FALSE(tray_->InTray());
  tray_->SetActive(true);
  EXPECT_TRUE(tray_->InTray());
  EXPECT_EQ(calls().back().tip, "while inactive");
}

TEST_F(TrayTest, TipIsTheShortHintCutTo63Characters) {
  const QString hundred(100, QLatin1Char('x'));
  struct Case {
    QString hint, tip;
  } cases[] = {
      {"Ready|details", "Ready"},
      {hundred, hundred.left(63)},
      {"Checking mail", "Checking mail"},
      {"|only details", ""},
      {"a|b|c", "a"},
  };
  tray_->SetIcon(SolidIcon(Qt::blue));
  for (const Case& c : cases) {
    tray_->SetHint(c.hint);
    ASSERT_FALSE(calls().empty());
    EXPECT_EQ(calls().back().tip, c.tip) << c.hint.toStdString();
    EXPECT_EQ(tray_->Tip(), c.tip);
  }
  // A character outside the basic plane is never split at the cut.
  const QString wide = QString(62, QLatin1Char('y')) + QString::fromUcs4(U"\U0001F600") + "z";
  EXPECT_EQ(TRxTray::ShortTip(wide), QString(62, QLatin1Char('y')));
}

TEST_F(TrayTest, SameHintMakesNoTrayCall) {
  tray_->SetIcon(SolidIcon(Qt::blue));
  tray_->SetHint("Ready");
  calls().clear();
  tray_->SetHint("Ready");
  EXPECT_TRUE(calls().empty());
}

TEST_F(TrayTest, FailedAddIsRetriedOnTheNextRefresh) {
  rec_->available = false;
  tray_->SetIcon(SolidIcon(Qt::green));
  EXPECT_FALSE(tray_->InTray());
  rec_->available = true;
  tray_->SetHint("tray is back");
  EXPECT_TRUE(tray_->InTray());
  EXPECT_EQ(calls().back().kind, TrayCall::kAdd);
}

struct ClickRecord {
  Qt::MouseButton button = Qt::NoButton;
  QPoint pos;
  int count = 0;
};

TEST_F(TrayTest, ClicksRaiseOnClickOrPopTheMenuAtTheCursor) {
  ClickRecord click;
  tray_->OnClick = [&](TRxTray* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                       int y) {
    EXPECT_EQ(sender, tray_.get());
    EXPECT_EQ(shift, Qt::NoModifier);
    click.button = button;
    click.pos = QPoint(x, y);
    ++click.count;
  };
  tray_->SetIcon(SolidIcon(Qt::red));

  rec_->Mouse(TrayMouse::kLeftUp);
  EXPECT_EQ(click.count, 1);
  EXPECT_EQ(click.button, Qt::LeftButton);
  EXPECT_EQ(click.pos, rec_->cursor);

  // No menu: the right button is a click.
  rec_->Mouse(TrayMouse::kRightUp);
  EXPECT_EQ(click.count, 2);
  EXPECT_EQ(click.button, Qt::RightButton);

  // A menu pops up at the cursor instead.
  TPopupMenu menu;
  menu.addAction("Check now");
  QSignalSpy shown(&menu, &QMenu::aboutToShow);
  tray_->SetPopupMenu(&menu);
  rec_->Mouse(TrayMouse::kRightUp);
  EXPECT_EQ(click.count, 2);
  EXPECT_EQ(shown.count(), 1);
  EXPECT_TRUE(menu.isVisible());
  EXPECT_EQ(menu.pos(), rec_->cursor);
  menu.hide();

  // Switched off automatic popup: a click again.
  menu.SetAutoPopup(false);
  rec_->Mouse(TrayMouse::kRightUp);
  EXPECT_EQ(click.count, 3);
  EXPECT_EQ(shown.count(), 1);

  // A destroyed menu is forgotten.
  {
    auto gone = std::make_unique<QMenu>();
    tray_->SetPopupMenu(gone.get());
  }
  EXPECT_EQ(tray_->PopupMenu(), nullptr);
  rec_->Mouse(TrayMouse::kRightUp);
  EXPECT_EQ(click.count, 4);

  // A failing handler is reported and doesn't leave the tray's message handling.
  tray_->OnClick = [](TRxTray*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    throw std::runtime_error("handler failed");
  };
  EXPECT_NO_THROW(rec_->Mouse(TrayMouse::kLeftUp));
}

// Where the tray host shows menus itself (a StatusNotifierItem host), the menu must reach it:
// there a right click never comes to the program.
TEST_F(TrayTest, TheMenuIsOfferedToTheHostUnlessItIsKeptFromPoppingUp) {
  TPopupMenu menu;
  tray_->SetPopupMenu(&menu);
  TPopupMenu manual;
  manual.SetAutoPopup(false);
  tray_->SetPopupMenu(&manual);
  tray_->SetPopupMenu(nullptr);
  EXPECT_EQ(rec_->exported, (std::vector<QMenu*>{&menu, nullptr, nullptr}));
}

TEST_F(TrayTest, DoubleClickRunsTheDefaultItemElseOnDblClick) {
  int dbl = 0;
  tray_->OnDblClick = [&](TRxTray*) { ++dbl; };
  tray_->SetIcon(SolidIcon(Qt::red));

  rec_->Mouse(TrayMouse::kLeftDoubleClick);
  EXPECT_EQ(dbl, 1);

  QMenu menu;
  QAction* other = menu.addAction("About");
  QAction* show = menu.addAction("Show");
  QSignalSpy other_ran(other, &QAction::triggered);
  QSignalSpy show_ran(show, &QAction::triggered);
  tray_->SetPopupMenu(&menu);
  rec_->Mouse(TrayMouse::kLeftDoubleClick);  // a menu without a default item
  EXPECT_EQ(dbl, 2);

  menu.setDefaultAction(show);
  rec_->Mouse(TrayMouse::kLeftDoubleClick);
  EXPECT_EQ(dbl, 2);
  EXPECT_EQ(show_ran.count(), 1);
  EXPECT_EQ(other_ran.count(), 0);
}

TEST_F(TrayTest, AnimatedWithoutIconsStaysOffAndStartsNoThread) {
  tray_->SetAnimated(true);
  EXPECT_FALSE(tray_->Animated());
  EXPECT_EQ(tray_->AnimationThread(), nullptr);
}

// Waits, with a bound, until the tray shows the icon with cache key icon.
bool WaitForShown(const std::vector<TrayCall>& calls, std::size_t from, qint64 icon,
                  TrayCall::Kind kind = TrayCall::kModify) {
  std::size_t seen = from;
  return QTest::qWaitFor(
      [&] {
        for (; seen < calls.size(); ++seen) {
          if (calls[seen].kind == kind && calls[seen].icon == icon) return true;
        }
        return false;
      },
      3000);
}

class AnimationTest : public TrayTest {
 protected:
  void SetUp() override {
    for (QColor c : {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue)}) {
      frames_.push_back(SolidIcon(c));
    }
    tray_->SetHint("animated");
    tray_->SetIcon(SolidIcon(Qt::white));
  }
  std::vector<QIcon> frames_;
};

TEST_F(AnimationTest, ThreeFramesCycleAndStopAndResumeWithActive) {
  for (const QIcon& f : frames_) tray_->Icons().Add(f);
  ASSERT_EQ(tray_->Interval(), 150);
  calls().clear();
  QElapsedTimer elapsed;
  elapsed.start();
  tray_->SetAnimated(true);
  ASSERT_TRUE(tray_->Animated());
  ASSERT_FALSE(calls().empty());
  EXPECT_EQ(calls().back().icon, frames_[0].cacheKey());  // frame 0 at once

  std::size_t from = calls().size();
  for (int frame : {1, 2, 0, 1}) {
    ASSERT_TRUE(WaitForShown(calls(), from, frames_[frame].cacheKey())) << "frame " << frame;
    from = calls().size();
  }
  // Four steps of 150 ms each, never rushed.
  EXPECT_GE(elapsed.elapsed(), 4 * 150 - 20);

  tray_->SetActive(false);
  TTimerThread* thread = tray_->AnimationThread();
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(thread->Suspended());
  ASSERT_TRUE(thread->WaitParked(3000));
  QCoreApplication::processEvents();  // a step that was already on its way changes nothing
  EXPECT_EQ(calls().back().kind, TrayCall::kRemove);
  from = calls().size();
  QCoreApplication::processEvents();
  EXPECT_EQ(calls().size(), from);

  const int shown = tray_->FrameIndex();
  tray_->SetActive(true);
  EXPECT_FALSE(thread->Suspended());
  EXPECT_EQ(calls().back().kind, TrayCall::kAdd);
  EXPECT_EQ(calls().back().icon, frames_[static_cast<std::size_t>(shown)].cacheKey());
  ASSERT_TRUE(WaitForShown(calls(), calls().size(), frames_[(shown + 1) % 3].cacheKey()));
}

TEST_F(AnimationTest, AnEmptyFrameTakesTheIconOutOnlyForThatFrame) {
  tray_->Icons().Add(frames_[0]);
  tray_->Icons().Add(QIcon());
  tray_->Icons().Add(frames_[2]);
  tray_->SetInterval(20);
  tray_->SetAnimated(true);
  const std::size_t from = calls().size();
  ASSERT_TRUE(WaitForShown(calls(), from, frames_[2].cacheKey(), TrayCall::kAdd));
  EXPECT_TRUE(tray_->InTray());
  ASSERT_TRUE(WaitForShown(calls(), calls().size(), frames_[0].cacheKey()));
}

TEST_F(AnimationTest, AnEmptyCurrentFrameNeverStopsTheAnimation) {
  struct Case {
    const char* name;
    bool in_tray_before;
    bool toggle_active;
  } cases[] = {
      {"icon in the tray", true, false},
      {"icon in the tray, Active off and on", true, true},
      {"nothing in the tray", false, false},
      {"nothing in the tray, Active off and on", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto adapter = std::make_unique<RecordingTray>();
    RecordingTray* rec = adapter.get();
    TRxTray tray(nullptr, std::move(adapter));
    if (c.in_tray_before) tray.SetIcon(SolidIcon(Qt::white));
    tray.Icons().Add(QIcon());
    tray.Icons().Add(frames_[1]);
    tray.SetInterval(10);
    tray.SetAnimated(true);  // frame 0, the empty one, is current
    EXPECT_FALSE(tray.InTray());
    if (c.toggle_active) {
      tray.SetActive(false);
      tray.SetActive(true);
    }
    EXPECT_TRUE(WaitForShown(rec->calls, 0, frames_[1].cacheKey(), TrayCall::kAdd));
  }
}

TEST_F(AnimationTest, OffAndOnAgainKeepsTheNewThread) {
  for (const QIcon& f : frames_) tray_->Icons().Add(f);
  tray_->SetInterval(10);
  tray_->SetAnimated(true);
  QPointer<TTimerThread> old = tray_->AnimationThread();
  tray_->SetAnimated(false);
  EXPECT_FALSE(tray_->Animated());
  tray_->SetAnimated(true);
  TTimerThread* fresh = tray_->AnimationThread();
  ASSERT_NE(fresh, old.data());
  // The old thread ends and frees itself; the tray keeps the new one.
  ASSERT_TRUE(QTest::qWaitFor([&] { return old.isNull(); }, 3000));
  EXPECT_EQ(tray_->AnimationThread(), fresh);
  EXPECT_TRUE(tray_->Animated());

  // Clearing the frames switches the animation off.
  tray_->Icons().Clear();
  EXPECT_FALSE(tray_->Animated());
  EXPECT_EQ(calls().back().icon, tray_->Icon().cacheKey());
}

TEST_F(AnimationTest, DestroyingAnAnimatedTrayWithStepsInFlightIsSafe) {
  for (const QIcon& f : frames_) tray_->Icons().Add(f);
  tray_->SetInterval(1);
  tray_->SetAnimated(true);
  const std::size_t from = calls().size();
  ASSERT_TRUE(QTest::qWaitFor([&] { return calls().size() > from + 5; }, 3000));
  tray_->SetAnimated(false);
  tray_->SetAnimated(true);  // one thread ending, one running
  tray_.reset();
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace dovrik
