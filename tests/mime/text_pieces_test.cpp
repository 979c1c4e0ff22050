// The pieces the display text is made of: character sets, format=flowed and HTML to text.
#include <gtest/gtest.h>

#include <string>

#include "mime/charset_text.h"
#include "mime/flowed_text.h"
#include "mime/header_text.h"
#include "mime/html_text.h"

namespace dovrik::mime {
namespace {

TEST(CharsetText, DeclaredUndeclaredAndLying) {
  struct Case {
    std::string bytes;
    const char* charset;
    std::string utf8;
  } cases[] = {
      {"caf\xc3\xa9", nullptr, "caf\xc3\xa9"},                // valid UTF-8 stays
      {"caf\xe9 \x80", nullptr, "caf\xc3\xa9 \xe2\x82\xac"},  // else windows-1252
      {"\x81\x9d", "windows-1252", "\xc2\x81\xc2\x9d"},       // its holes keep Latin-1 meaning
      {"caf\xe9", "UTF-8", "caf\xc3\xa9"},                    // declared UTF-8, really Latin-1
      {"caf\xe9", "iso-8859-1", "caf\xc3\xa9"},
      {"\xf0\xd2\xc9\xd7\xc5\xd4", "koi8-r", "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82"},
      {"\x82\xa0", "Shift_JIS", "\xe3\x81\x82"},
      {"caf\xc3\xa9", "x-unknown-charset", "caf\xc3\xa9"},  // unknown name: undeclared
      {"caf\xc3\xa9", "ISO-2022-JP", "caf\xc3\xa9"},        // not what it claims: undeclared
      {std::string("a\0b", 3), "utf-8", std::string("a\0b", 3)},
      // Not UTF-8: overlong, surrogate, cut short, beyond U+10FFFF.
      {"\xc0\xaf", nullptr, "\xc3\x80\xc2\xaf"},
      {"\xed\xa0\x80", nullptr, "\xc3\xad\xc2\xa0\xe2\x82\xac"},
      {"ab\xe2\x82", nullptr, "ab\xc3\xa2\xe2\x80\x9a"},
      {"\xf4\x90\x80\x80", nullptr, "\xc3\xb4\xc2\x90\xe2\x82\xac\xe2\x82\xac"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(TextToUtf8(c.bytes, c.charset), c.utf8);
  }
}

TEST(FlowedText, JoinsSoftBreaksOnly) {
  struct Case {
    const char* text;
    bool del_sp;
    const char* joined;
  } cases[] = {
      {"a \r\nb\r\nc\r\n", false, "a b\r\nc\r\n"},
      {"wo \nrd\n", true, "word\r\n"},
      {"> one \n> two\n", false, "> one two\r\n"},
      {"> quoted \nnot quoted\n", false, "> quoted \r\nnot quoted\r\n"},  // depths differ
      {"-- \nsig\n", false, "-- \r\nsig\r\n"},                            // signature never flows
      {" From here\n  two blanks\n", false, "From here\r\n two blanks\r\n"},  // unstuffed once
      {"last \n", false, "last \r\n"},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(JoinFlowed(c.text, c.del_sp), c.joined);
  }
}

TEST(HtmlText, RendersTextOnly) {
  struct Case {
    const char* html;
    const char* text;
  } cases[] = {
      {"<p>One</p><p>Two</p>", "One\r\n\r\nTwo\r\n"},
      {"a<br>b<br><br>c", "a\r\nb\r\n\r\nc\r\n"},
      {"  lots   of\n\n white\tspace  ", "lots of white space\r\n"},
      {"<pre>  keep\n   this</pre>", "  keep\r\n   this\r\n"},
      {"<script>document.write('x')</script>seen<SCRIPT>y</SCRIPT>", "seen\r\n"},
      {"<style>p{}</style><title>t</title>body", "body\r\n"},
      {"<script>never closed <p>text", ""},
      {"<!-- <p>hidden</p> -->shown<!-- open", "shown\r\n"},
      {"&lt;&gt;&amp;&quot;&#65;&#x42;&eacute;&nbsp;&bogus; & x",
       "<>&\"AB\xc3\xa9\xc2\xa0&bogus; & x\r\n"},
      {"&#0;&#xD800;&#99999999;", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\r\n"},
      {"1 < 2 <img src=\"http://example.test/t.png\"> <a href=\"x\">link</a>", "1 < 2 link\r\n"},
      {"<ul><li>a</li><li>b</li></ul><table><tr><td>c</td><td>d</td></tr></table>",
       "a\r\nb\r\nc d\r\n"},
      {"<unclosed", ""},
      // A '>' inside a quoted attribute value does not end the tag; one in an unquoted value does.
      {"<a title=\"a > b\" href=\"y\">text</a>", "text\r\n"},
      {"<img alt = 'x>y' src=z>after", "after\r\n"},
      {"<a href=x>y\"z>w</a>", "y\"z>w\r\n"},
      {"<script data-x=\"a>b\">x</script>seen", "seen\r\n"},
      {"<p class=\"never closed>text", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.html);
    EXPECT_EQ(HtmlToText(c.html), c.text);
  }
}

TEST(HeaderText, CutsBetweenCharactersAndBeforeUnfinishedEncodedWords) {
  struct Case {
    std::string value;
    std::size_t limit, cut;
  } cases[] = {
      {"abc", 5, 3},
      {"abcdef", 3, 3},
      {"a\xc3\xa9", 2, 1},                      // inside a two-byte character
      {"\xe2\x82\xac\xe2\x82\xac", 5, 3},       // inside a three-byte one
      {"\x80\x80\x80\x80\x80\x80", 4, 4},       // not UTF-8: where asked
      {"x =?UTF-8?Q?=C3=A9?= y", 12, 2},        // the word would be left unfinished
      {"=?UTF-8?Q?a?= =?UTF-8?Q?b?=", 16, 14},  // the second one would
      {"=?UTF-8?Q?a?= bcd", 15, 15},            // a finished word stays
      {"a =? b c", 6, 6},                       // no word in progress
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(CutPoint(c.value, c.limit), c.cut);
  }
}

TEST(HeaderText, IsolatedValuesCannotReorderWhatSurroundsThem) {
  const std::string fsi = "\xe2\x81\xa8", pdi = "\xe2\x81\xa9", lri = "\xe2\x81\xa6";
  const std::string rle = "\xe2\x80\xab", rlo = "\xe2\x80\xae", pdf = "\xe2\x80\xac";
  const std::string rlm = "\xe2\x80\x8f", shalom = "\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d";
  struct Case {
    std::string value, isolated_inside;  // between the FSI and the PDI that wrap it
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"a" + rlo + "b", "a" + rlo + "b" + pdf},  // left open: closed
      {"a" + pdf + pdi + "b", "ab"},             // closing nothing: dropped
      {lri + "x" + rle + "y" + pdi + "z", lri + "x" + rle + "y" + pdf + pdi + "z"},
      {rle + "x" + lri + "y" + pdf + "z", rle + "x" + lri + "yz" + pdi + pdf},  // PDF stays in
      {shalom + rlm + " (2)", shalom + rlm + " (2)"},                           // marks kept
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(IsolatedHeaderValue(c.value), fsi + c.isolated_inside + pdi);
  }
}

}  // namespace
}  // namespace dovrik::mime
