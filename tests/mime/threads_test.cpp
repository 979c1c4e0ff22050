// Several threads decode and encode at once from the very first call, so GMime's start-up itself
// runs concurrently (every test runs in a process of its own).
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "mime/display_message.h"
#include "mime/encode_outgoing.h"

namespace dovrik::mime {
namespace {

TEST(Threads, FirstUseFromManyThreadsAtOnce) {
  const std::string message =
      "Subject: =?ISO-8859-1?Q?caf=E9?=\r\nMIME-Version: 1.0\r\n"
      "Content-Type: text/plain; charset=koi8-r\r\n\r\n\xf0\xd2\xc9\xd7\xc5\xd4\r\n";
  const std::string composed = "Subject: caf\xc3\xa9\r\nContent-Type: text/plain\r\n\r\nx\r\n";
  std::vector<DisplayMessage> shown(4);
  std::vector<std::string> sent(4);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    threads.emplace_back([&, i] {
      sent[i] = EncodeOutgoing(composed);
      shown[i] = DecodeForDisplay(message);
    });
  }
  for (std::thread& t : threads) t.join();
  for (std::size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].subject, "caf\xc3\xa9");
    EXPECT_EQ(shown[i].text, "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82\r\n");
    EXPECT_EQ(sent[i], sent[0]);
  }
}

}  // namespace
}  // namespace dovrik::mime
