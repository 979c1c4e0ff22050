// The main window's costs that grow with the mailbox, measured offscreen against the test mail
// server on 127.0.0.1 (network time is not counted):
//   - the end of a check that finds N messages: tab rebuild, the first message's fetch started,
//     and the window painted (N = 10,000 and 100,000);
//   - opening the window (made, shown, painted) and showing a retrieved 1 MB message (the end of
//     its fetch, painted);
//   - showing a message whose lines are 100,000 characters long.
// Prints median and worst milliseconds of a few runs. Settings go to a temporary folder.
#include <stdlib.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextDocument>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "components/tray_adapter.h"
#include "engine/quorrel.h"
#include "platform/message_queue.h"
#include "tools/mailserver/mail_server.h"
#include "ui/desktop.h"
#include "ui/main_window.h"
#include "ui/message_tab_bar.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

class NoTray : public dovrik::TrayAdapter {
 public:
  bool add(const QIcon&, const QString&) override { return true; }
  bool modify(const QIcon&, const QString&) override { return true; }
  bool remove() override { return true; }
  QPoint cursorPos() const override { return {}; }
};

std::unique_ptr<dovrik::MainWindow> Open(dovrik::Desktop& desktop,
                                         dovrik::tools::MailServer& server) {
  auto w = std::make_unique<dovrik::MainWindow>(desktop, nullptr, std::make_unique<NoTray>());
  w->engine().SetInServer("127.0.0.1");
  w->engine().SetUserName("user");
  w->engine().SetInPort(std::to_string(server.Port()));
  w->setOptions({.popup_on_new_message = [] { return false; },
                 .auto_get_message = [] { return true; },
                 .log_enabled = [] { return true; },
                 .confirm_password = [] {},
                 .time_text = nullptr});
  w->setPasswordAsker([](std::string& pass) {
    pass = "secret";
    return true;
  });
  return w;
}

// Times the engine's end event of one action kind, with the window painted right after it.
struct EndTimer {
  EndTimer(dovrik::MainWindow& w, dovrik::tQrAction which) : window(w) {
    inner = w.engine().OnActionDone;
    w.engine().OnActionDone = [this, which](dovrik::TQuorrel* e, dovrik::tQrAction a) {
      const auto start = Clock::now();
      inner(e, a);
      if (a != which) return;
      window.repaint();
      ms = Ms(Clock::now() - start);
      ended = true;
    };
  }
  bool Wait() {
    return QTest::qWaitFor([&] { return ended; }, 60000);
  }
  dovrik::MainWindow& window;
  dovrik::tActionEvent inner;
  double ms = 0;
  bool ended = false;
};

void Report(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-58s median %8.2f ms   worst %8.2f ms   (%zu runs)\n", what, ms[ms.size() / 2],
              ms.back(), ms.size());
}

// The process's resident memory in MB, from /proc: what the user sees the program hold.
double ResidentMb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kb = 0;
      status >> kb;
      return kb / 1024;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

std::vector<std::string> Mailbox(int n) {
  std::vector<std::string> box;
  box.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) box.push_back("Subject: " + std::to_string(i) + "\r\n\r\nbody\r\n");
  return box;
}

class NoQuestions : public dovrik::Desktop {
 public:
  int runModal(QDialog&) override { return 0; }
  bool askYesNo(QWidget*, std::string_view) override { return false; }
  std::optional<QString> askText(QWidget*, const QString&, const QString&,
                                 const QString&) override {
    return {};
  }
  std::optional<QString> askSaveFile(QWidget*, dovrik::SaveFileRequest&) override { return {}; }
  std::optional<QFont> askFont(QWidget*, const QFont&) override { return {}; }
  void showMessage(QWidget*, const QString&) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::string dir = (std::filesystem::temp_directory_path() / "dovrik-bench-XXXXXX").string();
  if (!::mkdtemp(dir.data())) return 1;
  ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  QApplication app(argc, argv);
  dovrik::platform::SetMainThread();
  NoQuestions desktop;
  const int runs = 5;

  const auto large = [](int line_length, std::size_t total) {
    std::string body;
    const std::string line = std::string(static_cast<std::size_t>(line_length), 'x') + "\r\n";
    while (body.size() < total) body += line;
    return "From: A <a@example.invalid>\r\nSubject: large\r\n\r\n" + body;
  };
  // Resident memory is process-wide, so the 20 MB case runs alone in its own process
  // (`bench_main_window --large`): the figures then hold nothing from the other cases.
  if (argc > 1 && std::string(argv[1]) == "--large") {
    dovrik::tools::MailBehaviour b;
    // Moved, not copied: the server's one copy is the bench's own share of the figure.
    b.messages.push_back(large(76, 20u << 20));
    dovrik::tools::MailServer server(std::move(b));
    auto w = Open(desktop, server);
    w->show();
    w->repaint();
    const double before = ResidentMb();
    EndTimer timer(*w, dovrik::acGetMessage);
    w->checkNow();
    if (!timer.Wait()) return 3;
    // The view drops each line's CR: 77 of every 78 bytes are shown.
    if (w->textView().document()->characterCount() < (19 << 20)) return 4;
    const double after = ResidentMb();
    std::printf("show a retrieved 20 MB message (76-char lines): %.1f ms\n", timer.ms);
    std::printf("  resident memory: %.1f MB before, %.1f MB after\n", before, after);
    std::filesystem::remove_all(dir);
    return after <= 100 ? 0 : 6;
  }
  for (int n : {10000, 100000}) {
    dovrik::tools::MailBehaviour b;
    b.messages = Mailbox(n);
    dovrik::tools::MailServer server(b);
    std::vector<double> ms;
    for (int run = 0; run < runs; ++run) {
      auto w = Open(desktop, server);
      w->show();
      EndTimer timer(*w, dovrik::acCheck);
      w->checkNow();
      if (!timer.Wait() || w->tabs().count() != n) return 2;
      ms.push_back(timer.ms);
      if (!QTest::qWaitFor([&] { return w->presenter().runningActions().empty(); }, 60000))
        return 5;
    }
    Report(n == 10000 ? "check end, 10,000 messages: tabs, first fetch, painted"
                      : "check end, 100,000 messages: tabs, first fetch, painted",
           ms);
  }

  struct Case {
    const char* open_label;
    const char* show_label;
    std::string message;
  };
  const Case cases[] = {
      {"open the window (made, shown, painted)", "show a retrieved 1 MB message (76-char lines)",
       large(76, 1 << 20)},
      {nullptr, "show a retrieved 1 MB message (100,000-char lines)", large(100000, 1 << 20)},
  };
  for (const Case& c : cases) {
    dovrik::tools::MailBehaviour b;
    b.messages = {c.message};
    dovrik::tools::MailServer server(b);
    std::vector<double> open_ms, show_ms, total_ms;
    for (int run = 0; run < runs; ++run) {
      const auto start = Clock::now();
      auto w = Open(desktop, server);
      w->show();
      w->repaint();
      open_ms.push_back(Ms(Clock::now() - start));
      EndTimer timer(*w, dovrik::acGetMessage);
      w->checkNow();
      if (!timer.Wait()) return 3;
      if (w->textView().toPlainText().size() < (1 << 20) - 100000) return 4;
      show_ms.push_back(timer.ms);
      total_ms.push_back(open_ms.back() + show_ms.back());
    }
    if (c.open_label) Report(c.open_label, open_ms);
    Report(c.show_label, show_ms);
    if (c.open_label) Report("  open + show, together", total_ms);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
