// A delete that verifies, before DELE, that the mailbox is still the one the user saw: message
// numbers shift when mail is deleted elsewhere, and a DELE by number would then hit another
// message.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/engine/engine_fixture.h"

namespace dovrik::testing {
namespace {

using tools::MailBehaviour;
using tools::MailServer;

// A and D have the same size: swapping one for the other leaves STAT's figures as they were.
const std::string kA = "From: A\r\n\r\naaa\r\n";
const std::string kB = "From: B\r\n\r\nbbbb\r\n";
const std::string kC = "From: C\r\n\r\ncccccc\r\n";
const std::string kD = "From: D\r\n\r\nddd\r\n";

class GuardedDeleteTest : public EngineTest {
 protected:
  // The window's way: a check, the message retrieved, then the delete with what both gave.
  tDeleteGuard CheckAndGet(int aNumber) {
    done_.clear();
    EXPECT_TRUE(engine_->Check());
    EXPECT_TRUE(AwaitDone());
    EXPECT_TRUE(engine_->GetMessage(aNumber));
    EXPECT_TRUE(AwaitDone(2));
    return {engine_->MessageCount(), engine_->MailboxSize(), engine_->MessageUidl()};
  }
  int Delete(int aNumber, const tDeleteGuard& aGuard) {
    done_.clear();
    EXPECT_TRUE(engine_->DeleteMessage(aNumber, aGuard));
    EXPECT_TRUE(AwaitDone());
    return engine_->ErrorCode(acDelete);
  }
  static std::vector<std::string> Texts(const MailServer& s) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < s.MailboxCount(); ++i) out.push_back(s.MessageText(i));
    return out;
  }
};

TEST_F(GuardedDeleteTest, DeletesOnlyFromTheMailboxTheUserSaw) {
  const std::string login = "USER user\r\nLIST\r\nPASS secret\r\n";
  struct Case {
    const char* what;
    std::function<void(MailServer&)> change;  // between the check and the delete
    std::string refuse;
    int code;
    std::string wire;
    std::vector<std::string> left;
  };
  const std::vector<Case> cases = {
      {"unchanged",
       [](MailServer&) {},
       "",
       0,
       login + "STAT\r\nUIDL 2\r\nDELE 2\r\nQUIT\r\n",
       {kA, kC}},
      // A deleted elsewhere: B is number 1 now, and DELE 2 would delete C.
      {"one deleted elsewhere",
       [](MailServer& s) { s.RemoveMessage(0); },
       "",
       kQrMailboxChanged,
       login + "STAT\r\nQUIT\r\n",
       {kB, kC}},
      // A swapped for a message of its size: the figures agree, the id of number 2 does not.
      {"same figures, other message",
       [](MailServer& s) {
         s.RemoveMessage(0);
         s.AddMessage(kD);
       },
       "",
       kQrMailboxChanged,
       login + "STAT\r\nUIDL 2\r\nQUIT\r\n",
       {kB, kC, kD}},
      // A server without UIDL: STAT's figures are all there is to go by.
      {"no UIDL, unchanged",
       [](MailServer&) {},
       "UIDL",
       0,
       login + "STAT\r\nUIDL 2\r\nDELE 2\r\nQUIT\r\n",
       {kA, kC}},
      {"no UIDL, one deleted elsewhere",
       [](MailServer& s) { s.RemoveMessage(0); },
       "UIDL",
       kQrMailboxChanged,
       login + "STAT\r\nQUIT\r\n",
       {kB, kC}},
  };
  for (const auto& c : cases) {
    MailBehaviour b;
    b.messages = {kA, kB, kC};
    b.refuse = c.refuse;
    auto& server = Pop3(b);
    GivePassword({"secret", "secret", "secret"});
    tDeleteGuard guard = CheckAndGet(2);
    ASSERT_EQ(guard.ExpectedCount, 3) << c.what;
    if (c.refuse == "UIDL") {
      EXPECT_EQ(guard.ExpectedUidl, "") << c.what;  // the get found none
      guard.ExpectedUidl = server.MessageUidl(1);   // so the delete's fallback is seen
    } else {
      EXPECT_EQ(guard.ExpectedUidl, server.MessageUidl(1)) << c.what;
    }
    c.change(server);
    EXPECT_EQ(Delete(2, guard), c.code) << c.what;
    if (c.code != 0) {
      EXPECT_EQ(engine_->ErrorText(acDelete), kQrMailboxChangedText);
    }
    ASSERT_TRUE(server.WaitClosed(3, std::chrono::seconds(5)));
    EXPECT_EQ(server.Received(2), c.wire) << c.what;
    EXPECT_EQ(Texts(server), c.left) << c.what;
  }
}

TEST_F(GuardedDeleteTest, VerifiesOnlyWhatTheGuardGives) {
  struct Case {
    tDeleteGuard guard;
    bool with_uidl;  // the guard names message 1's id
    std::string commands;
  };
  const std::vector<Case> cases = {
      {{2, -1, ""}, false, "STAT\r\nDELE 1\r\n"},
      {{-1, static_cast<int>(kA.size() + kB.size()), ""}, false, "STAT\r\nDELE 1\r\n"},
      {{}, true, "UIDL 1\r\nDELE 1\r\n"},
      {{}, false, "DELE 1\r\n"},  // nothing to verify: the plain delete's wire
  };
  for (const auto& c : cases) {
    MailBehaviour b;
    b.messages = {kA, kB};
    auto& server = Pop3(b);
    GivePassword({"secret"});
    tDeleteGuard guard = c.guard;
    if (c.with_uidl) guard.ExpectedUidl = server.MessageUidl(0);
    EXPECT_EQ(Delete(1, guard), 0) << c.commands;
    ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
    EXPECT_EQ(server.Received(0), "USER user\r\nLIST\r\nPASS secret\r\n" + c.commands + "QUIT\r\n");
    EXPECT_EQ(Texts(server), std::vector<std::string>{kB});
  }
}

}  // namespace
}  // namespace dovrik::testing
