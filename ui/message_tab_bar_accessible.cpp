#include "ui/message_tab_bar_accessible.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <unordered_map>

#include "ui/message_tab_bar.h"

namespace dovrik {
namespace {

class TabInterface : public QAccessibleInterface, public QAccessibleActionInterface {
 public:
  TabInterface(MessageTabBar* bar, int index) : bar_(bar), index_(index) {}

  bool isValid() const override { return bar_ && index_ < bar_->count(); }
  QObject* object() const override { return nullptr; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QAccessibleInterface* parent() const override {
    return bar_ ? QAccessible::queryAccessibleInterface(bar_.data()) : nullptr;
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QString text(QAccessible::Text t) const override {
    return t == QAccessible::Name && isValid() ? MessageTabBar::tabText(index_) : QString();
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    if (!isValid()) return {};
    const QRect r = bar_->tabRect(index_);
    if (r.isEmpty() || index_ < bar_->firstVisible() || index_ > bar_->lastVisible()) return {};
    return QRect(bar_->mapToGlobal(r.topLeft()), r.size());
  }
  QAccessible::Role role() const override { return QAccessible::PageTab; }
  QAccessible::State state() const override {
    QAccessible::State s;
    if (!isValid()) {
      s.invalid = true;
      return s;
    }
    s.selectable = true;
    s.focusable = true;
    s.selected = bar_->currentIndex() == index_;
    s.focused = s.selected && bar_->hasFocus();
    const bool shown = index_ >= bar_->firstVisible() && index_ <= bar_->lastVisible();
    s.invisible = !bar_->isVisible() || !shown;
    s.offscreen = !shown;
    return s;
  }
  void* interface_cast(QAccessible::InterfaceType t) override {
    return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                             : nullptr;
  }

  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& name) override {
    if (name == pressAction() && isValid()) bar_->setCurrentIndex(index_);
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

  int index() const { return index_; }

 private:
  QPointer<MessageTabBar> bar_;
  int index_;
};

class TabBarInterface : public QAccessibleWidget {
 public:
  explicit TabBarInterface(MessageTabBar* bar) : QAccessibleWidget(bar, QAccessible::PageTabList) {}
  ~TabBarInterface() override {
    for (const auto& [index, id] : children_) QAccessible::deleteAccessibleInterface(id);
  }

  int childCount() const override { return bar()->count(); }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || index >= bar()->count()) return nullptr;
    if (auto it = children_.find(index); it != children_.end()) {
      return QAccessible::accessibleInterface(it->second);
    }
    auto* tab = new TabInterface(bar(), index);  // owned by the accessibility cache
    children_.emplace(index, QAccessible::registerAccessibleInterface(tab));
    return tab;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (!child || child->role() != QAccessible::PageTab || child->parent() != this) return -1;
    const int index = static_cast<const TabInterface*>(child)->index();
    return child->isValid() ? index : -1;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    return child(bar()->tabAt(bar()->mapFromGlobal(QPoint(x, y))));
  }
  QAccessibleInterface* focusChild() const override {
    return bar()->hasFocus() ? child(bar()->currentIndex()) : nullptr;
  }

 private:
  MessageTabBar* bar() const { return static_cast<MessageTabBar*>(widget()); }
  mutable std::unordered_map<int, QAccessible::Id> children_;
};

QAccessibleInterface* Factory(const QString&, QObject* object) {
  if (auto* bar = qobject_cast<MessageTabBar*>(object)) return new TabBarInterface(bar);
  return nullptr;
}

}  // namespace

void InstallMessageTabBarAccessibility() {
  static const bool kInstalled = [] {
    QAccessible::installFactory(Factory);
    return true;
  }();
  (void)kInstalled;
}

void MessageTabBarAccessibilityReset(MessageTabBar* bar) {
  if (!QAccessible::isActive()) return;
  QAccessibleEvent event(bar, QAccessible::ObjectReorder);
  QAccessible::updateAccessibility(&event);
}

void MessageTabBarAccessibilitySelected(MessageTabBar* bar, int index) {
  if (!QAccessible::isActive()) return;
  QAccessibleEvent selection(bar, QAccessible::Selection);
  selection.setChild(index);
  QAccessible::updateAccessibility(&selection);
  if (bar->hasFocus()) {
    QAccessibleEvent focus(bar, QAccessible::Focus);
    focus.setChild(index);
    QAccessible::updateAccessibility(&focus);
  }
}

}  // namespace dovrik
