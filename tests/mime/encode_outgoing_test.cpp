// Encoding of the composed text: 7-bit text untouched, anything else declared and encoded, and
// what is encoded decodes back to what was typed.
#include "mime/encode_outgoing.h"

#include <gtest/gtest.h>

#include <string>

#include "mime/display_message.h"

namespace dovrik::mime {
namespace {

std::string Composed(const std::string& from, const std::string& to, const std::string& subject,
                     const std::string& body) {
  return "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subject +
         "\r\nDate: Thu, 10 Dec 2026 05:00:00\r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/plain\r\n\r\n" +
         body;
}

// Every line in 7 bits and within SMTP's 998 octets; body lines (quoted-printable) within 76.
void ExpectSendable(const std::string& wire) {
  const std::size_t body = wire.find("\r\n\r\n");
  std::size_t pos = 0;
  while (pos < wire.size()) {
    const std::size_t end = wire.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos) << "line without CR LF at " << pos;
    const std::string line = wire.substr(pos, end - pos);
    EXPECT_LE(line.size(), pos > body ? 76u : 998u) << line;
    for (const char c : line) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    pos = end + 2;
  }
}

TEST(EncodeOutgoing, SevenBitTextIsSentByteForByte) {
  for (const std::string& text : {
           Composed("me@example.test", "you@example.test", "Re: x=y", "=>a\r\n=>b\r\n"),
           Composed("Me <me@example.test>", "you@example.test", "",
                    std::string(300, 'x') + "\r\n"),  // long lines too: not ours to change
           Composed("me@example.test", "you@example.test", "", std::string(998, 'x') + "\r\n"),
           std::string("Subject: no body\r\n\r\n"),
           std::string(),
       }) {
    EXPECT_EQ(EncodeOutgoing(text), text);
  }
}

TEST(EncodeOutgoing, AccentsInTheBodyDeclareUtf8AndQuotedPrintable) {
  const std::string wire =
      EncodeOutgoing(Composed("me@example.test", "you@example.test", "Re: hello",
                              "=>Gr\xc3\xbc\xc3\x9f"
                              "e\r\n"));
  EXPECT_EQ(wire,
            "From: me@example.test\r\nTo: you@example.test\r\nSubject: Re: hello\r\n"
            "Date: Thu, 10 Dec 2026 05:00:00\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=UTF-8\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
            "=3D>Gr=C3=BC=C3=9Fe\r\n");
}

TEST(EncodeOutgoing, EncodedHeadersAndBodyDecodeToWhatWasTyped) {
  struct Case {
    std::string from, to, subject, body;
  } cases[] = {
      {"Jos\xc3\xa9 Garc\xc3\xad"
       "a <jose@example.test>",
       "Zo\xc3\xab <zoe@example.test>", "Re: Caf\xc3\xa9 cr\xc3\xa8me",
       "=>Bonjour \xc3\xa0 tous\r\n\r\nmerci\r\n"},
      // A long subject folds; a long body line breaks softly; trailing blanks survive.
      {"me@example.test", "you@example.test",
       "\xe2\x82\xac " + std::string(120, 'a') + " \xe6\x97\xa5\xe6\x9c\xac " +
           std::string(30, 'b'),
       std::string(200, 'z') + "\xc3\xa9 \r\ntab\t\r\n.\r\n"},
      {"\xd0\x9e\xd0\xbb\xd1\x8f <olya@example.test>, Bo <bo@example.test>", "a@example.test",
       "plain subject", "\xf0\x9f\x98\x80\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subject);
    const std::string wire = EncodeOutgoing(Composed(c.from, c.to, c.subject, c.body));
    ExpectSendable(wire);
    const DisplayMessage shown = DecodeForDisplay(wire);
    EXPECT_EQ(shown.from, c.from);
    EXPECT_EQ(shown.to, c.to);
    EXPECT_EQ(shown.subject, c.subject);
    EXPECT_EQ(shown.text, c.body);
  }
}

TEST(EncodeOutgoing, AsciiBodyLinesTooLongForTheWireGoOutQuotedPrintable) {
  for (const std::string& body : {
           std::string(999, 'x') + "\r\n",
           "short\r\n" + std::string(5000, '=') + "\r\nend\r\n",
       }) {
    SCOPED_TRACE(body.size());
    const std::string wire = EncodeOutgoing(Composed("a@b", "c@d", "long", body));
    EXPECT_NE(wire.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
    ExpectSendable(wire);
    const std::string shown = DecodeForDisplay(wire).text;
    EXPECT_EQ(shown, body);
  }
}

TEST(EncodeOutgoing, DeclaredCharsetIsAlwaysTrue) {
  // Bytes that are not UTF-8 were meant as windows-1252, and are sent as what they meant.
  EXPECT_EQ(DecodeForDisplay(EncodeOutgoing(Composed("a@b", "c@d", "caf\xe9", "\x80 5\r\n"))).text,
            "\xe2\x82\xac 5\r\n");
  // Without a Content-Type (edited away) one is added, with the MIME version if that went too.
  const std::string wire = EncodeOutgoing("Subject: x\r\n\r\n\xc3\xa9\r\n");
  EXPECT_EQ(wire,
            "Subject: x\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n\r\n=C3=A9\r\n");
  // A header line that is no header field still goes out in 7 bits.
  ExpectSendable(
      EncodeOutgoing("Subject: x\r\nGr\xc3\xbc\xc3\x9f"
                     "e\r\n\r\nbody\r\n"));
}

}  // namespace
}  // namespace dovrik::mime
