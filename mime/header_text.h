// Header values and names made safe to show: cut to a length without breaking a character or an
// encoded word, and kept from reordering the text around them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dovrik::mime {

// Shown where a value was cut (U+2026, an ellipsis).
inline constexpr std::string_view kCutMark = "\xe2\x80\xa6";

// Where to cut value so that at most limit bytes stay: never inside a UTF-8 character, nor
// inside an encoded word ("=?UTF-8?Q?=C3=A9?=") that the cut would leave unfinished.
std::size_t CutPoint(std::string_view value, std::size_t limit);

// The value between FIRST STRONG ISOLATE and POP DIRECTIONAL ISOLATE (U+2068, U+2069), for a
// line that shows several values: whatever direction a value's own text or controls ask for, it
// cannot reorder what stands around it. Embeddings, overrides and isolates the value opens are
// closed inside; closers that close nothing are dropped. Marks (U+200E, U+200F) stay as they are:
// right-to-left writers rely on them.
std::string IsolatedHeaderValue(std::string_view value);

// The explicit direction controls (U+202A..U+202E, U+2066..U+2069) written out as "<U+202E>" and
// so on, for names that must read as their bytes are: "invoice<U+202E>fdp.exe" would otherwise
// look like "invoiceexe.pdf".
std::string VisibleDirectionControls(std::string_view name);

}  // namespace dovrik::mime
