// The message corpus: each message under data/ is shown exactly as its .expected file says, both
// as a stored message and as the POP3 server delivers it (status line, dot-stuffing, "." line).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "mime/display_message.h"
#include "mime/prepared_input.h"
#include "tools/mime/display_dump.h"

namespace dovrik::mime {
namespace {

std::string ReadData(const std::string& name) {
  std::ifstream in(std::string(DOVRIK_MIME_DATA) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << "missing " << name;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// What a POP3 server sends for RETR of a stored message.
std::string AsRetrReply(const std::string& message) {
  std::string reply = "+OK " + std::to_string(message.size()) + " octets\r\n";
  std::size_t pos = 0;
  while (pos < message.size()) {
    std::size_t nl = message.find('\n', pos);
    std::string line = message.substr(pos, nl == std::string::npos ? nl : nl - pos);
    pos = nl == std::string::npos ? message.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '.') reply += '.';
    reply += line + "\r\n";
  }
  return reply + ".\r\n";
}

TEST(MessageCorpus, EveryMessageShowsItsExpectedText) {
  for (const char* name : {
           "subject_utf8_base64",
           "subject_latin1_q",
           "subject_koi8r_and_iso2022jp",
           "subject_adjacent_words_folded",
           "headers_undeclared_utf8",
           "headers_undeclared_windows1252",
           "body_qp_latin1",
           "body_base64_utf8",
           "body_flowed_delsp",
           "body_flowed_quoted",
           "multipart_alternative",
           "html_only",
           "mixed_related_inline_image",
           "attachments_encoded_names",
           "broken_base64",
           "broken_qp",
           "lying_charsets",
           "boundary_never_closes",
           "not_mime",
           // Damaged or hostile:
           "header_nul_bytes",
           "lines_end_in_lone_cr",
           "header_block_without_empty_line",
           "content_type_unreadable",
           "content_type_unreadable_top",
           "multipart_without_boundary",
           "subject_base64_padding_missing_or_inside",
           "attachment_name_direction_controls",
       }) {
    SCOPED_TRACE(name);
    const std::string message = ReadData(std::string(name) + ".eml");
    const std::string expected = ReadData(std::string(name) + ".expected");
    EXPECT_EQ(tools::DumpDisplay(DecodeForDisplay(message)), expected);
    EXPECT_EQ(tools::DumpDisplay(DecodeForDisplay(AsRetrReply(message), Framing::kPop3Reply)),
              expected);
  }
}

TEST(MessageCorpus, Pop3FramingIsUndone) {
  struct Case {
    const char* reply;
    const char* text;
  } cases[] = {
      // Dot-stuffed lines lose one dot; the final "." line is not text.
      {"+OK 40 octets\r\nSubject: s\r\n\r\n..x\r\n..\r\nx.y\r\n.\r\n", ".x\r\n.\r\nx.y\r\n"},
      // A reply cut short ends in the engine's marker line, which is not text either.
      {"+OK\r\nSubject: s\r\n\r\nfirst\r\npartial line\r\n<truncated>",
       "first\r\npartial line\r\n"},
      // Bare LF line ends and no status line.
      {"Subject: s\n\nbody\n.\n", "body\r\n"},
      {"+OK\r\n.\r\n", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(DecodeForDisplay(c.reply, Framing::kPop3Reply).text, c.text);
  }
  EXPECT_EQ(DecodeForDisplay("+OK\r\nSubject: s\r\n\r\nb\r\n.\r\n", Framing::kPop3Reply).subject,
            "s");
}

TEST(MessageCorpus, MimeIsToldFromTheHeaderBlock) {
  struct Case {
    const char* raw;
    Framing framing;
    bool mime;
  } cases[] = {
      {"MIME-Version: 1.0\r\n\r\nx\r\n", Framing::kMessage, true},
      {"content-type : text/plain\r\n\r\n", Framing::kMessage, true},
      {"Content-Transfer-Encoding: 8bit\n\nx\n", Framing::kMessage, true},
      {"Subject: plain\r\n =?UTF-8?Q?folded?=\r\n\r\n", Framing::kMessage, true},
      {"From: =?UTF-8?Q?x?= <a@b>\r\n\r\n", Framing::kMessage, true},
      {"Topic: =?UTF-8?Q?x?=\r\nX-Mailer: a =?b\r\n\r\n", Framing::kMessage, false},
      {"Subject: s\r\n\r\nMIME-Version: 1.0\r\n", Framing::kMessage, false},  // body
      {"+OK 9 octets\r\nMIME-Version: 1.0\r\n\r\n.\r\n", Framing::kPop3Reply, true},
      {"+OK\r\nSubject: s\r\n\r\n.\r\n", Framing::kPop3Reply, false},
      {"", Framing::kMessage, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    EXPECT_EQ(IsMimeMessage(c.raw, c.framing), c.mime);
    EXPECT_EQ(DecodeForDisplay(c.raw, c.framing).is_mime, c.mime);
  }
}

TEST(MessageCorpus, DotStuffedPartsReadAsStored) {
  // A few stuffed lines are read in pieces, many through one copy: both give the stored message.
  for (const int dotted : {3, 200}) {
    std::string text, attachment;
    for (int i = 0; i < dotted; ++i) {
      text += ".line " + std::to_string(i) + "\r\n";
      attachment += "..\r\n";
    }
    const std::string message =
        "Subject: dots\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\n" + text +
        "--b\r\nContent-Type: text/x-dots\r\nContent-Disposition: attachment\r\n\r\n" + attachment +
        "--b--\r\n";
    SCOPED_TRACE(dotted);
    const std::string reply = AsRetrReply(message);
    const PreparedInput prepared(reply, Framing::kPop3Reply);
    EXPECT_EQ(prepared.Pieces().size(), dotted == 3 ? 7u : 1u);
    EXPECT_EQ(prepared.Bytes(), message);
    const DisplayMessage shown = DecodeForDisplay(reply, Framing::kPop3Reply);
    EXPECT_EQ(tools::DumpDisplay(shown), tools::DumpDisplay(DecodeForDisplay(message)));
    EXPECT_EQ(shown.text, text);
    ASSERT_EQ(shown.attachments.size(), 1u);
    EXPECT_EQ(shown.attachments[0].size,
              attachment.size() - 2);  // the last line break is the boundary's
  }
}

}  // namespace
}  // namespace dovrik::mime
