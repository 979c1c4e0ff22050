// Hostile messages: each is shown as far as it can be read, and the time stays linear. The time
// bounds are generous on purpose (a loaded CI machine, sanitizers): they are there to catch work
// that grows with the square of the input, which at these sizes takes minutes, not to measure.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "mime/charset_text.h"
#include "mime/display_message.h"
#include "mime/header_text.h"
#include "mime/prepared_input.h"

namespace dovrik::mime {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kGenerousBound = std::chrono::seconds(15);

DisplayMessage TimedDecode(const std::string& raw) {
  const auto start = Clock::now();
  DisplayMessage shown = DecodeForDisplay(raw);
  EXPECT_LT(Clock::now() - start, kGenerousBound) << raw.size() << " bytes";
  for (const std::string* s : {&shown.from, &shown.to, &shown.subject, &shown.date, &shown.text})
    EXPECT_TRUE(IsUtf8(*s));
  return shown;
}

std::string Nested(int depth, const std::string& innermost) {
  std::string s = "Subject: deep\r\nMIME-Version: 1.0\r\n";
  for (int i = 0; i < depth; ++i)
    s += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" +
         std::to_string(i) + "\r\n";
  return s + "Content-Type: text/plain\r\n\r\n" + innermost;
}

std::size_t Count(std::string_view text, std::string_view word) {
  std::size_t n = 0;
  for (std::size_t pos = text.find(word); pos != std::string_view::npos;
       pos = text.find(word, pos + 1))
    ++n;
  return n;
}

TEST(Limits, ThousandsOfNestedMultipartsStayCheap) {
  // Every line that starts with "--" is compared with every open boundary, so deep nesting and
  // many such lines multiply. Parts past the container limit are no longer multiparts; that
  // holds whatever the machine's speed, and the timed decodes below are the backstop.
  for (const int depth : {1'000, 100'000}) {
    const std::string message = Nested(depth, "deep inside\r\n");
    const PreparedInput prepared(message, Framing::kMessage);
    EXPECT_EQ(Count(prepared.Bytes(), "multipart/"), static_cast<std::size_t>(kMaxContainers));
    EXPECT_EQ(Count(prepared.Bytes(), "x-too-deep/"),
              depth - static_cast<std::size_t>(kMaxContainers));
    const DisplayMessage shown = TimedDecode(message);
    EXPECT_EQ(shown.subject, "deep");
    EXPECT_TRUE(shown.text.empty());  // the text sits below the depth that is walked
  }
  std::string lines;
  while (lines.size() < 2'000'000) lines += "--x\r\n";
  TimedDecode(Nested(1'000, lines));
  // Within the limits the innermost text is found.
  EXPECT_EQ(TimedDecode(Nested(kMaxContainers - 1, "found\r\n")).text, "found\r\n");
}

std::string Repeated(std::string_view unit, std::size_t size) {
  std::string s;
  while (s.size() < size) s += unit;
  return s;
}

// text, blanks aside, is unit over and over.
bool OnlyRepeats(std::string_view text, std::string_view unit) {
  std::string compact;
  for (const char c : text)
    if (c != ' ') compact += c;
  if (compact.empty() || compact.size() % unit.size() != 0) return false;
  for (std::size_t i = 0; i < compact.size(); i += unit.size())
    if (compact.compare(i, unit.size(), unit) != 0) return false;
  return true;
}

TEST(Limits, HugeHeaderLinesAreCutBetweenCharactersAndMarked) {
  const std::string e_acute = "\xc3\xa9";
  const struct {
    std::string subject;
    std::string shown_unit;
  } cases[] = {
      {std::string(10'000'000, 'a'), "a"},
      {Repeated("=?UTF-8?Q?=C3=A9?= ", 10'000'000), e_acute},  // the cut falls inside a word
      {Repeated(e_acute, 80'000), e_acute},                    // ... inside a character
      {Repeated(Repeated(e_acute, 100) + "\r\n ", 200'000), e_acute},  // short folded lines
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.subject.substr(0, 40));
    const DisplayMessage shown =
        TimedDecode("From: a@b\r\nSubject: " + c.subject + "\r\nTo: c@d\r\n\r\nbody\r\n");
    EXPECT_LE(shown.subject.size(), kMaxHeaderLine * 2);
    ASSERT_GT(shown.subject.size(), kCutMark.size());
    EXPECT_EQ(shown.subject.substr(shown.subject.size() - kCutMark.size()), kCutMark);
    EXPECT_TRUE(
        OnlyRepeats(shown.subject.substr(0, shown.subject.size() - kCutMark.size()), c.shown_unit));
    const std::size_t line =
        PreparedInput("Subject: " + c.subject + "\r\n\r\n", Framing::kMessage).Bytes().find("\r\n");
    EXPECT_LE(line, c.subject.find("\r\n") < kMaxHeaderLine ? c.subject.find("\r\n") + 9
                                                            : kMaxHeaderLine + 32);
    EXPECT_GE(line, std::min<std::size_t>(c.subject.find("\r\n"), kMaxHeaderLine - 64));
    EXPECT_EQ(shown.to, "c@d");
    EXPECT_EQ(shown.text, "body\r\n");
  }
}

TEST(Limits, PartsPastTheLimitAreLeftOutAndSaidSo) {
  // Every part is built by the parser before the walk sees any, at hundreds of bytes each: a
  // 10 MB message of ten-byte parts took over a gigabyte. Lines that only start like a
  // delimiter ("--bx") are text and do not count.
  for (const int parts : {kMaxParts, 1'000'000}) {
    std::string message = "Subject: parts\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int i = 0; i < parts; ++i) message += "--b \r\n\r\n--bx\r\n";
    message += "--b--\r\n";
    SCOPED_TRACE(parts);
    const DisplayMessage shown = TimedDecode(message);
    const bool cut = parts > kMaxParts;
    EXPECT_EQ(shown.parts_cut, cut);
    EXPECT_EQ(Count(shown.text, "--bx"), static_cast<std::size_t>(kMaxParts));
    EXPECT_EQ(shown.text.size() >= std::strlen(kPartsNotShown) &&
                  shown.text.compare(shown.text.size() - std::strlen(kPartsNotShown),
                                     std::string::npos, kPartsNotShown) == 0,
              cut);
    EXPECT_TRUE(shown.attachments.empty());
  }
}

TEST(Limits, HeaderBlocksKeepTheirFirstFieldsOnly) {
  // Each field costs the parser hundreds of bytes: a 10 MB block of short fields took more than
  // half a gigabyte. The message's own block, a part's and an enclosed message's are bounded.
  std::string fields;
  for (int i = 0; i < 1'000'000; ++i) fields += "X-A: b\r\n";
  for (const std::string& message : {
           "Subject: many\r\n" + fields + "\r\nthe text\r\n",
           "Subject: many\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n" + fields +
               "\r\nthe text\r\n--b--\r\n",
           "Subject: many\r\nContent-Type: message/rfc822\r\n\r\n" + fields + "\r\nthe text\r\n",
       }) {
    SCOPED_TRACE(message.substr(0, 60));
    const PreparedInput prepared(message, Framing::kMessage);
    EXPECT_LE(Count(prepared.Bytes(), "X-A:"), static_cast<std::size_t>(kMaxHeaderFields));
    EXPECT_GE(Count(prepared.Bytes(), "X-A:"), static_cast<std::size_t>(kMaxHeaderFields) - 2);
    const DisplayMessage shown = TimedDecode(message);
    EXPECT_EQ(shown.subject, "many");
    if (message.find("rfc822") == std::string::npos) {
      EXPECT_EQ(shown.text, "the text\r\n");  // an enclosed message is listed, not shown
    }
  }
}

TEST(Limits, UnclosedAndBrokenStructuresShowWhatIsThere) {
  std::string big_part;
  while (big_part.size() < 5'000'000) big_part += "AAAA";
  const DisplayMessage unclosed = TimedDecode(
      "Content-Type: multipart/mixed; boundary=z\r\n\r\n--z\r\n\r\ntext\r\n--z\r\n"
      "Content-Type: application/zip\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
      big_part);
  EXPECT_EQ(unclosed.text, "text\r\n");
  ASSERT_EQ(unclosed.attachments.size(), 1u);
  EXPECT_EQ(unclosed.attachments[0].size, big_part.size() / 4 * 3);

  const std::string with_nuls("Subject: a\0b\r\nFrom: x\r\n\r\nte\0xt\r\n", 32);
  const DisplayMessage nuls = TimedDecode(with_nuls);
  EXPECT_EQ(nuls.from, "x");
  EXPECT_EQ(nuls.text, std::string("te\0xt\r\n", 7));

  EXPECT_EQ(TimedDecode("\r\n\r\n").text, "\r\n");
  TimedDecode("Content-Type: multipart/alternative\r\n\r\n--\r\n--\r\n");
  TimedDecode("Content-Type: message/rfc822\r\n\r\nContent-Type: message/rfc822\r\n\r\n");
}

}  // namespace
}  // namespace dovrik::mime
