// The readable text of an HTML body, for mail that comes only as HTML.
//
// A small one-pass converter, not a browser: it loads nothing, runs nothing and never looks at
// anything outside the given bytes. Tags are dropped; script, style, head and title content is
// dropped with them; block elements and <br> become line breaks; character references are
// decoded; runs of white space collapse as a browser would collapse them (except inside <pre>).
// Time is linear in the input.
#pragma once

#include <string>
#include <string_view>

namespace dovrik::mime {

// html: UTF-8. Returns UTF-8 text whose lines end with CR LF.
std::string HtmlToText(std::string_view html);

}  // namespace dovrik::mime
