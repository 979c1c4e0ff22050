// Pure pieces of the engine: number conversion, line splitting, STAT replies, the SMTP data block
// and message parsing.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "engine/message_parser.h"
#include "engine/pop3_dialogue.h"
#include "engine/quorrel.h"
#include "engine/smtp_dialogue.h"
#include "engine/str_to_int_def_trim.h"
#include "engine/text_lines.h"

namespace dovrik {
namespace {

TEST(StrToIntDefTrim, Table) {
  struct Case {
    std::string text;
    int expected;
  };
  const std::vector<Case> cases = {
      {"42", 42},
      {"  \t42\r\n", 42},
      {"-17", -17},
      {"+5", 5},
      {"007", 7},
      {"", -99},
      {"   ", -99},
      {"-", -99},
      {"+", -99},
      {"4 2", -99},
      {"42x", -99},
      {"0x10", -99},
      {"$10", -99},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"2147483648", -99},
      {"-2147483649", -99},
      {"99999999999999999999", -99},
      {std::string("\x01"
                   "12\x1f",
                   4),
       12},
      {"\xa0"
       "12",
       -99},  // only bytes up to the blank are trimmed
  };
  for (const auto& c : cases) EXPECT_EQ(StrToIntDefTrim(c.text, -99), c.expected) << c.text;
}

TEST(SplitLines, BreaksAtCrLfLoneCrAndLoneLf) {
  using V = std::vector<std::string_view>;
  EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n"), (V{"a"}));
  EXPECT_EQ(SplitLines("a\r\n\r\n"), (V{"a", ""}));
  EXPECT_EQ(SplitLines("\n\r"), (V{"", ""}));  // LF then a lone CR
  EXPECT_EQ(SplitLines(""), V{});
}

TEST(ParseStatReply, Table) {
  struct Case {
    std::string reply;
    int count;
    int size;
  };
  const std::vector<Case> cases = {
      {"+OK 3 4567\r\n", 3, 4567},
      {"+OK 0 0\r\n", 0, 0},
      {"+OK 3 4567 octets\r\n", 3, -1},
      {"+OK 3\r\n", 0, 0},
      {"+OK\r\n", 0, 0},
      {"+OK x 12\r\n", -1, 12},
      {"+OK 2 3310\r\n+OK bye\r\n", 2, -1},  // a second line behind the reply is kept in R
      {"+OK  5 6\r\n", -1, -1},              // two blanks: an empty count, "5 6" as size
  };
  for (const auto& c : cases) {
    int count = 0;
    int size = 0;
    ParseStatReply(c.reply, count, size);
    EXPECT_EQ(count, c.count) << c.reply;
    EXPECT_EQ(size, c.size) << c.reply;
  }
}

TEST(ParseUidlReply, Table) {
  struct Case {
    std::string reply;
    int number;
    bool ok;
    std::string id;
  };
  const std::vector<Case> cases = {
      {"+OK 2 QhdPYR:00WBw1Ph7x7\r\n", 2, true, "QhdPYR:00WBw1Ph7x7"},
      {"+OK 2 uid7 \r\n+OK bye\r\n", 2, true, "uid7"},  // the first line only, trimmed
      {"+OK 3 uid7\r\n", 2, false, "kept"},             // another message's id
      {"-ERR no such message\r\n", 2, false, "kept"},
      {"+OK 2\r\n", 2, false, "kept"},
      {"+OK 2 \r\n", 2, false, "kept"},
      {"+OK 2 a\x01"
       "b\r\n",
       2, false, "kept"},
      {"+OK 2 " + std::string(71, 'x') + "\r\n", 2, false, "kept"},
      {"+OK 2 " + std::string(70, 'x') + "\r\n", 2, true, std::string(70, 'x')},
  };
  for (const auto& c : cases) {
    std::string id = "kept";
    EXPECT_EQ(ParseUidlReply(c.reply, c.number, id), c.ok) << c.reply;
    EXPECT_EQ(id, c.id) << c.reply;
  }
}

TEST(SmtpDataBlock, Table) {
  struct Case {
    std::string text;
    std::string block;
  };
  const std::vector<Case> cases = {
      {"Hi\r\n.x", "Hi\r\n..x\r\n\r\n.\r\n"}, {"", "\r\n.\r\n"},
      {"a\nb\n", "a\r\nb\r\n\r\n.\r\n"},      {"a\rb", "a\r\nb\r\n\r\n.\r\n"},
      {".\r\n", "..\r\n\r\n.\r\n"},           {"x.y\r\n\r\n..", "x.y\r\n\r\n...\r\n\r\n.\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildSmtpDataBlock(c.text), c.block) << c.text;
}

TEST(ParseHeader, MatchesNameAndColonOnly) {
  std::string value = "kept";
  EXPECT_TRUE(ParseHeader("SUBJECT", "SUBJECT:   Hello  ", value));
  EXPECT_EQ(value, "Hello");
  EXPECT_TRUE(ParseHeader("FROM", "fRoM:\tMe <me@x>\r", value));
  EXPECT_EQ(value, "Me <me@x>");
  EXPECT_TRUE(ParseHeader("TO", "To:", value));
  EXPECT_EQ(value, "");
  value = "kept";
  const std::vector<std::pair<const char*, const char*>> misses = {
      {"SUBJECT", "Subject :x"}, {"SUBJECT", " Subject: x"},
      {"TO", "Topic: x"},        {"TO", "TO"},
      {"TO", "XTo: a"},          {"DATE", ""}};
  for (const auto& [name, line] : misses) EXPECT_FALSE(ParseHeader(name, line, value)) << line;
  EXPECT_EQ(value, "kept");
}

TEST(ParseMessage, Table) {
  struct Case {
    std::string text;
    tQrMessage expected;
  };
  const std::vector<Case> cases = {
      {"", {}},
      // A whole reply: status line skipped, last line never body, dot-stuffing undone.
      {"+OK 99 octets\r\nFrom: A\r\nTo: B\r\nSubject: S\r\nDate: D\r\n\r\nbody\r\n..x\r\n..\r\n"
       "x.y\r\n.\r\n",
       {"A", "B", "S", "D", "body\r\n.x\r\n.\r\nx.y\r\n"}},
      // No blank line: headers found, no body.
      {"+OK\r\nFrom: A\r\nSubject: S\r\n.\r\n", {"A", "", "S", "", ""}},
      // The blank line is second to last, or last: empty body.
      {"From: A\r\n\r\n.\r\n", {"A", "", "", "", ""}},
      {"From: A\r\n\r\n", {"A", "", "", "", ""}},
      // Last occurrence wins; folded lines are not joined; headers in the body stay body.
      {"Subject: one\r\nSubject: two\r\n  folded\r\nX-Other: y\r\n \t\r\nFrom: body\r\n.\r\n",
       {"", "", "two", "", "From: body\r\n"}},
      // The truncation marker is the last line and never body.
      {"+OK\r\nFrom: A\r\n\r\nline\r\npartial\r\n<truncated>",
       {"A", "", "", "", "line\r\npartial\r\n"}},
      // Any line break style.
      {"from: a\nTO: b\rsubject:c\n\nx\n.\n", {"a", "b", "c", "", "x\r\n"}},
  };
  TQuorrel engine;
  for (const auto& c : cases) {
    tQrMessage m{"junk", "junk", "junk", "junk", "junk"};
    EXPECT_TRUE(engine.ParseMessage(c.text, m));
    EXPECT_EQ(m.From, c.expected.From) << c.text;
    EXPECT_EQ(m.To, c.expected.To) << c.text;
    EXPECT_EQ(m.Subject, c.expected.Subject) << c.text;
    EXPECT_EQ(m.Date, c.expected.Date) << c.text;
    EXPECT_EQ(m.Text, c.expected.Text) << c.text;
  }
}

}  // namespace
}  // namespace dovrik
