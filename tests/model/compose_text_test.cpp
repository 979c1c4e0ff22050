// The plain parts of composing: the date line, the subject rule, the composed text and the bare
// address of a sender or recipient.
#include "model/compose_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "model/extract_address.h"
#include "model/mail_date.h"

namespace dovrik {
namespace {

TEST(MailDate, EnglishNamesNoLeadingZeroOnTheDayNoZone) {
  const struct {
    double date_time;
    const char* text;
  } cases[] = {
      {46362.33578703704, "Sun, 6 Dec 2026 08:03:32"},
      {0.0, "Sat, 30 Dec 1899 00:00:00"},
      {-1.25, "Fri, 29 Dec 1899 06:00:00"},  // before the origin the time still counts forwards
      {45351.99998842592, "Thu, 29 Feb 2024 23:59:59"},
      {45351.9999999999, "Fri, 1 Mar 2024 00:00:00"},  // rounds up across midnight, not to 24:00
      {-693593.0, "Mon, 1 Jan 0001 00:00:00"},
      {2958465.999988426, "Fri, 31 Dec 9999 23:59:59"},
      {45658.5, "Wed, 1 Jan 2025 12:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(MailDate(c.date_time), c.text) << c.date_time;
}

TEST(MailDate, NoTextForValuesThatAreNoDate) {
  for (double v : {std::nan(""), std::numeric_limits<double>::infinity(), -693594.0, 2958466.0,
                   2958465.9999999999}) {
    EXPECT_EQ(MailDate(v), "") << v;
  }
}

TEST(ComposeSubject, ReplyRule) {
  const struct {
    const char* subject;
    bool reply;
    const char* result;
  } cases[] = {
      {"hello", true, "Re: hello"},
      {"Re: hello", true, "Re: hello"},
      {"RE:hello", true, "RE:hello"},
      {"re: x", true, "re: x"},
      {"Fwd: x", true, "Re: Fwd: x"},
      {"", true, "Re: "},
      {" Re: x", true, "Re:  Re: x"},
      {"Re x", true, "Re: Re x"},
      {"%Subject%", false, "%Subject%"},
      {"hello", false, "hello"},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ComposeSubject(c.subject, c.reply), c.result) << c.subject << " " << c.reply;
  }
}

TEST(ComposeText, LineByLine) {
  const std::string head = "From: Me <me@x>\r\nTo: Some One <box>\r\n";
  const std::string tail =
      "Date: Sun, 6 Dec 2026 08:03:32\r\nMIME-Version: 1.0\r\n"
      "Content-Type: text/plain\r\n\r\n";
  const struct {
    const char* body;
    bool reply;
    std::string text;
  } cases[] = {
      {"a\r\nb", true, head + "Subject: Re: hi\r\n" + tail + "=>a\r\n=>b\r\n"},
      {"a\rb\nc\r\n", true, head + "Subject: Re: hi\r\n" + tail + "=>a\r\n=>b\r\n=>c\r\n"},
      {"a\r\n\r\nb\n\n", true, head + "Subject: Re: hi\r\n" + tail + "=>a\r\n=>\r\n=>b\r\n=>\r\n"},
      {"", true, head + "Subject: Re: hi\r\n" + tail},
      {"Hello!\r\n\r\nGoodbye!", false,
       head + "Subject: hi\r\n" + tail + "Hello!\r\n\r\nGoodbye!\r\n"},
      {"=>x", false, head + "Subject: hi\r\n" + tail + "=>x\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ComposeText("Me <me@x>", "Some One <box>", "hi", "Sun, 6 Dec 2026 08:03:32", c.body,
                          c.reply),
              c.text)
        << c.body;
  }
  EXPECT_STREQ(ComposeCaption(true), "Reply");
  EXPECT_STREQ(ComposeCaption(false), "New message");
}

TEST(ExtractAddress, OnlyTheAngleBracketsCount) {
  const struct {
    const char* text;
    const char* address;
  } cases[] = {
      {"box", "box"},
      {"Name <box>", "box"},
      {"  \t Name <box> \r\n", "box"},
      {"box>", "box"},
      {"x <y> <box>", "box"},
      {"", ""},
      {" \t\r\n ", ""},
      {"Name <box> (home)", "Name <box> (home)"},
      {" Name <box> (home) ", "Name <box> (home)"},
      {"<>", ""},
      {">", ""},
      {"Some One <some.one@example.org>", "some.one@example.org"},
      {"a> b", "a> b"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractAddress(c.text), c.address) << '"' << c.text << '"';
}

}  // namespace
}  // namespace dovrik
