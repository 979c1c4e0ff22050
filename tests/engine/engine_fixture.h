// Shared set-up of the engine's session tests: the test thread is the main thread, the clock is
// a fake one moved by the test, and servers are the scriptable test mail server on loopback.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/quorrel.h"
#include "platform/clock.h"
#include "platform/message_queue.h"
#include "tests/support/fake_clock.h"
#include "tests/support/pump_until.h"
#include "tools/mailserver/mail_server.h"

namespace dovrik::testing {

using testsupport::FakeClock;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMainThread();
    clock_.Set(1000.0);
    platform::SetClock(&clock_);
    engine_ = std::make_unique<TQuorrel>();
    engine_->SetUserName("user");
    engine_->SetInServer("127.0.0.1");
    engine_->SetOutServer("127.0.0.1");
    engine_->SetTimeOut(10);
    engine_->OnActionStart = [this](TQuorrel*, tQrAction a) { started_.push_back(a); };
    engine_->OnActionDone = [this](TQuorrel*, tQrAction a) { done_.push_back(a); };
  }
  void TearDown() override {
    engine_.reset();
    pop3_.reset();
    smtp_.reset();
    platform::SetClock(nullptr);
  }

  tools::MailServer& Pop3(tools::MailBehaviour b = {}) {
    if (b.messages.empty()) b.messages = Mailbox();
    pop3_ = std::make_unique<tools::MailServer>(b);
    engine_->SetInPort(std::to_string(pop3_->Port()));
    return *pop3_;
  }
  tools::MailServer& Smtp(tools::MailBehaviour b = {}) {
    b.protocol = tools::MailProtocol::kSmtp;
    smtp_ = std::make_unique<tools::MailServer>(b);
    engine_->SetOutPort(std::to_string(smtp_->Port()));
    return *smtp_;
  }
  static std::vector<std::string> Mailbox() {
    return {"From: A <a@x>\r\nSubject: One\r\n\r\nfirst\r\n.\r\n..dots\r\n",
            "From: B <b@x>\r\nSubject: Two\r\n\r\nsecond\r\n"};
  }
  void GivePassword(std::vector<std::string> answers) {
    answers_ = std::move(answers);
    pass_calls_ = 0;
    engine_->OnGetPass = [this](TQuorrel*, std::string& aPass) {
      aPass = pass_calls_ < answers_.size() ? answers_[pass_calls_] : std::string();
      ++pass_calls_;
    };
  }

  bool PumpUntil(const std::function<bool()>& pred,
                 std::chrono::milliseconds bound = std::chrono::seconds(5)) {
    return testsupport::PumpUntil(pred, bound);
  }
  bool AwaitDone(std::size_t n = 1, std::chrono::milliseconds bound = std::chrono::seconds(5)) {
    return PumpUntil([&] { return done_.size() >= n; }, bound);
  }
  // Moves the fake clock on once the session is surely inside the wait that should time out: the
  // caller has seen the server reach the point after which that wait begins, and a session reads
  // the clock at most twice between that point and taking its reference time.
  void Elapse(double seconds, int reads = 3) {
    ASSERT_TRUE(clock_.AwaitWorkerReads(reads));
    clock_.Set(clock_.Now() + seconds);
  }

  // Never destroyed: a detached session may still read it after its test ended.
  static FakeClock& SharedClock() {
    static FakeClock* clock = new FakeClock();
    return *clock;
  }

  FakeClock& clock_ = SharedClock();
  std::unique_ptr<TQuorrel> engine_;
  std::unique_ptr<tools::MailServer> pop3_;
  std::unique_ptr<tools::MailServer> smtp_;
  std::vector<tQrAction> started_;
  std::vector<tQrAction> done_;
  std::vector<std::string> answers_;
  std::size_t pass_calls_ = 0;
};

}  // namespace dovrik::testing
