// 8-bit text (settings, server replies, mail) turned into text for widgets and back. Pure; any
// thread.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace dovrik {

// The bytes as UTF-8 when the whole text is valid UTF-8, else as Latin-1 (every byte one
// character, so nothing is lost or replaced). NUL bytes are kept as U+0000.
QString DisplayText(std::string_view bytes);

// The text as UTF-8 bytes, NULs kept.
std::string BytesFromText(const QString& text);

}  // namespace dovrik
