// Server bytes as text for the screen, and back.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace dovrik {

// UTF-8 where the bytes are valid UTF-8, else Latin-1 (every byte a character); NUL bytes kept.
QString DisplayText(std::string_view bytes);
// UTF-8 bytes of a text typed or shown.
std::string BytesFromText(const QString& text);

}  // namespace dovrik
