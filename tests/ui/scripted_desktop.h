// A Desktop for tests: every question is answered from what the test prepared beforehand, in
// order, and every question asked is recorded. A question with no prepared answer fails the test
// and is answered "cancel" / No; answers still unused when the double is destroyed fail it too.
//
// runModal shows the dialog (so its show handler runs), calls the prepared function, which may
// act on the dialog (type, tick a countdown, click), and then ends the run: with the dialog's own
// result when it closed itself meanwhile, else with the function's return value.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "model/display_text.h"
#include "ui/desktop.h"

namespace dovrik::testing {

class ScriptedDesktop : public Desktop {
 public:
  enum class Kind { kModal, kYesNo, kText, kSaveFile, kFont, kMessage, kChoice };
  struct Question {
    Kind kind;
    QString text;    // the dialog's objectName, the question, the prompt, the title or the message
    QString detail;  // askText: the initial text; askSaveFile: the proposed file; askChoice: the
                     // answers offered, joined by "|"
  };

  ~ScriptedDesktop() override {
    const std::size_t unused =
        modal_.size() + yes_no_.size() + text_.size() + save_.size() + font_.size();
    if (unused != 0) ADD_FAILURE() << unused << " prepared answer(s) never asked for";
  }

  void onModal(std::function<int(QDialog&)> answer) { modal_.push_back(std::move(answer)); }
  void answerYesNo(bool yes) { yes_no_.push_back(yes); }
  void answerText(std::optional<QString> text) { text_.push_back(std::move(text)); }
  // filter_index: what the user left selected; nullopt keeps the request's.
  void answerSaveFile(std::optional<QString> path, std::optional<int> filter_index = {}) {
    save_.push_back({std::move(path), filter_index});
  }
  void answerFont(std::optional<QFont> font) { font_.push_back(std::move(font)); }
  // The index of the answer chosen; nullopt: the box was closed.
  void answerChoice(std::optional<int> index) { choice_.push_back(index); }

  const std::vector<Question>& asked() const { return asked_; }
  QStringList questions() const {
    QStringList texts;
    for (const Question& q : asked_) texts << q.text;
    return texts;
  }
  const std::vector<SaveFileRequest>& saveRequests() const { return save_requests_; }

  int runModal(QDialog& dialog) override {
    asked_.push_back({Kind::kModal, dialog.objectName(), {}});
    if (modal_.empty()) {
      ADD_FAILURE() << "modal window " << dialog.objectName().toStdString() << " not expected";
      return QDialog::Rejected;
    }
    auto answer = std::move(modal_.front());
    modal_.pop_front();
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    const int result = answer(dialog);
    if (dialog.isVisible()) dialog.done(result);
    return dialog.result();
  }

  bool askYesNo(QWidget*, std::string_view question) override {
    asked_.push_back({Kind::kYesNo, DisplayText(question), {}});
    bool yes = false;
    Next(yes_no_, yes, "Yes/No question");
    return yes;
  }

  std::optional<QString> askText(QWidget*, const QString&, const QString& prompt,
                                 const QString& initial) override {
    asked_.push_back({Kind::kText, prompt, initial});
    std::optional<QString> text;
    Next(text_, text, "text input");
    return text;
  }

  std::optional<QString> askSaveFile(QWidget*, SaveFileRequest& request) override {
    asked_.push_back({Kind::kSaveFile, request.title, request.last_file});
    save_requests_.push_back(request);
    SaveAnswer answer;
    Next(save_, answer, "save-file dialog");
    if (answer.path) {
      request.last_file = *answer.path;
      if (answer.filter_index) request.filter_index = *answer.filter_index;
    }
    return answer.path;
  }

  std::optional<QFont> askFont(QWidget*, const QFont&) override {
    asked_.push_back({Kind::kFont, QStringLiteral("font"), {}});
    std::optional<QFont> font;
    Next(font_, font, "font dialog");
    return font;
  }

  void showMessage(QWidget*, const QString& text) override {
    asked_.push_back({Kind::kMessage, text, {}});
  }

  std::optional<int> askChoice(QWidget*, const QString& question,
                               const QStringList& answers) override {
    asked_.push_back({Kind::kChoice, question, answers.join(QLatin1Char('|'))});
    std::optional<int> index;
    Next(choice_, index, "choice");
    return index;
  }

 private:
  struct SaveAnswer {
    std::optional<QString> path;
    std::optional<int> filter_index;
  };

  // The next prepared answer into out; out stays as it was ("cancel") when none was prepared.
  template <typename T>
  void Next(std::deque<T>& queue, T& out, const char* what) {
    if (queue.empty()) {
      ADD_FAILURE() << what << " not expected";
      return;
    }
    out = std::move(queue.front());
    queue.pop_front();
  }

  std::deque<std::function<int(QDialog&)>> modal_;
  std::deque<bool> yes_no_;
  std::deque<std::optional<QString>> text_;
  std::deque<SaveAnswer> save_;
  std::deque<std::optional<QFont>> font_;
  std::deque<std::optional<int>> choice_;
  std::vector<Question> asked_;
  std::vector<SaveFileRequest> save_requests_;
};

}  // namespace dovrik::testing
