#include "app/session_end.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <utility>
#ifndef QT_NO_SESSIONMANAGER
#include <QSessionManager>
#endif

namespace dovrik {
namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGHUP, SIGINT};

// The pipe and the dispositions to restore; one SessionEnd at a time owns them.
int g_pipe[2] = {-1, -1};
struct sigaction g_previous[kSignals.size()];

extern "C" void OnSignal(int number) {
  const int saved = errno;
  const char byte = static_cast<char>(number);
  // A full pipe already holds an announcement not yet handled: nothing is lost by dropping this.
  [[maybe_unused]] const ssize_t ignored = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

SessionEnd::SessionEnd(std::function<void()> on_end, QObject* parent)
    : QObject(parent), on_end_(std::move(on_end)) {
  if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i)
    ::sigaction(kSignals[i], &action, &g_previous[i]);
  installed_ = true;

  notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &SessionEnd::drain);
#ifndef QT_NO_SESSIONMANAGER
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    connect(app, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { on_end_(); });
  }
#endif
}

SessionEnd::~SessionEnd() {
  if (!installed_) return;
  for (std::size_t i = 0; i < kSignals.size(); ++i)
    ::sigaction(kSignals[i], &g_previous[i], nullptr);
  delete notifier_;
  ::close(g_pipe[0]);
  ::close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

void SessionEnd::drain() {
  char bytes[64];
  ssize_t got = 0;
  bool announced = false;
  while ((got = ::read(g_pipe[0], bytes, sizeof bytes)) > 0 || (got < 0 && errno == EINTR)) {
    announced = announced || got > 0;
  }
  if (announced) on_end_();
}

}  // namespace dovrik
