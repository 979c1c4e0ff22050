#include "model/settings_text.h"

#include <gtest/gtest.h>

#include <string>

#include "model/registry_layout.h"

namespace dovrik {
namespace {

using namespace std::string_literals;

SettingsValues Defaults(bool last_switches) {
  SettingsValues v;
  v.auto_get_message = v.log_enabled = v.prompt_on_exit = last_switches;
  ResetToDefaults(v);
  return v;
}

SettingsValues Sample() {
  SettingsValues v;
  v.incoming_server = "127.0.0.2";
  v.incoming_port = "1110";
  v.user_name = "anna";
  v.check_every = "5";
  v.timeout = " 30 ";
  v.popup_on_new_message = false;
  v.outgoing_server = "127.0.0.3";
  v.outgoing_port = "2525";
  v.auto_get_message = true;
  v.log_enabled = false;
  v.prompt_on_exit = true;
  v.sender = "Anna <anna@localhost>";
  return v;
}

bool Same(const SettingsValues& a, const SettingsValues& b) {
  return BuildSettingsText(a) == BuildSettingsText(b);
}

TEST(SettingsText, DefaultsAreLoopbackAndKeepTheLastThreeSwitches) {
  for (bool last : {false, true}) {
    SettingsValues v = Defaults(last);
    EXPECT_EQ(BuildSettingsText(v), std::string("127.0.0.1\r\npop3\r\nUser\r\nNoMorePass\r\n120\r\n"
                                                "20\r\n1\r\n127.0.0.1\r\nsmtp\r\n") +
                                        CheckToChar(last) + "\r\n" + CheckToChar(last) + "\r\n" +
                                        CheckToChar(last) + "\r\n" + kDefaultSender);
  }
}

TEST(SettingsText, BuildsThirteenLinesWithTheFixedFourthAndNoFinalLineEnd) {
  EXPECT_EQ(BuildSettingsText(Sample()),
            "127.0.0.2\r\n1110\r\nanna\r\nNoMorePass\r\n5\r\n 30 \r\n0\r\n127.0.0.3\r\n2525\r\n"
            "1\r\n0\r\n1\r\nAnna <anna@localhost>");
}

// The text with its CR LF line ends replaced, in turn, by the given ones.
std::string WithLineEnds(const std::string& crlf, std::initializer_list<const char*> ends) {
  std::string text;
  std::size_t n = 0;
  for (std::size_t i = 0; i < crlf.size(); ++i) {
    if (crlf.compare(i, 2, "\r\n") == 0) {
      text += ends.begin()[n++ % ends.size()];
      ++i;
    } else {
      text += crlf[i];
    }
  }
  return text;
}

TEST(SettingsText, ReadsBackWhatItBuiltWhateverTheLineEnds) {
  const std::string crlf = BuildSettingsText(Sample());
  const std::string texts[] = {
      crlf,
      WithLineEnds(crlf, {"\n"}),
      WithLineEnds(crlf, {"\r"}),
      WithLineEnds(crlf, {"\r\n", "\r", "\n"}),
      crlf + "\r\n",  // a final line end adds no line
      WithLineEnds(crlf, {"\n"}) + "\n",
      crlf + "\r",
  };
  for (const std::string& text : texts) {
    SettingsValues read = Defaults(true);
    EXPECT_TRUE(ParseSettingsText(text, read));
    EXPECT_TRUE(Same(read, Sample())) << testing::PrintToString(text);
  }
}

TEST(SettingsText, MissingLinesKeepWhatTheValuesHeldAndExtraLinesAreIgnored) {
  SettingsValues three = Defaults(false);
  EXPECT_TRUE(ParseSettingsText("127.0.0.9\r\n995\r\nbob", three));
  SettingsValues expected = Defaults(false);
  expected.incoming_server = "127.0.0.9";
  expected.incoming_port = "995";
  expected.user_name = "bob";
  EXPECT_TRUE(Same(three, expected));

  SettingsValues longer = Defaults(true);
  EXPECT_TRUE(ParseSettingsText(BuildSettingsText(Sample()) + "\r\nline 14\r\nline 15", longer));
  EXPECT_TRUE(Same(longer, Sample()));

  SettingsValues none = Defaults(true);
  EXPECT_FALSE(ParseSettingsText("", none));
  EXPECT_TRUE(Same(none, Defaults(true)));
  // A lone line end is one empty line: found, and the server is now empty.
  SettingsValues empty_line = Defaults(true);
  EXPECT_TRUE(ParseSettingsText("\n", empty_line));
  EXPECT_EQ(empty_line.incoming_server, "");
}

TEST(SettingsText, LineFourIsNeverRead) {
  SettingsValues v = Defaults(true);
  ParseSettingsText("a\r\nb\r\nc\r\nsecret\r\n60", v);
  EXPECT_EQ(v.check_every, "60");
  EXPECT_EQ(BuildSettingsText(v).find("secret"), std::string::npos);
}

TEST(SettingsText, CharToCheckLooksOnlyAtTheFirstCharacter) {
  const std::pair<std::string, bool> cases[] = {
      {"1", true},
      {"10", true},
      {"1x", true},
      {"0", false},
      {"", false},
      {"true", false},
      {" 1", false},
      {"01", false},
      {"\0"
       "1"s,
       false},
  };
  for (const auto& [line, checked] : cases) {
    EXPECT_EQ(CharToCheck(line), checked) << testing::PrintToString(line);
    SettingsValues v = Defaults(!checked);
    v.popup_on_new_message = !checked;
    ParseSettingsText("s\r\np\r\nu\r\nx\r\n1\r\n2\r\n" + line + "\r\nserver", v);
    EXPECT_EQ(v.popup_on_new_message, checked) << testing::PrintToString(line);
  }
}

TEST(SettingsText, AnEmptySenderReadsBackAsTwelveLinesKeepingTheDefault) {
  SettingsValues v = Sample();
  v.sender.clear();
  const std::string text = BuildSettingsText(v);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  SettingsValues read = Defaults(true);
  EXPECT_TRUE(ParseSettingsText(text, read));
  EXPECT_EQ(read.sender, kDefaultSender);
  EXPECT_EQ(read.user_name, "anna");
}

TEST(SettingsText, BrokenTextRestoresWhatItCan) {
  // NUL bytes, invalid UTF-8, stray CRs and a 100,000-byte line.
  const std::string huge(100000, 'x');
  const std::string text = "host\0name"s + "\r\r\n\xFF\xFE\n" + huge + "\r";
  SettingsValues v = Defaults(true);
  EXPECT_TRUE(ParseSettingsText(text, v));
  EXPECT_EQ(v.incoming_server, "host\0name"s);
  EXPECT_EQ(v.incoming_port, "");
  EXPECT_EQ(v.user_name, "\xFF\xFE");
  EXPECT_EQ(v.check_every, "120");  // line 4 is the huge one, and never read
  EXPECT_EQ(v.sender, kDefaultSender);
}

}  // namespace
}  // namespace dovrik
