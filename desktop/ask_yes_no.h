// A modal Yes/No question with the question icon and the caption "Confirm".
#pragma once

#include <string_view>

class QWidget;

namespace dovrik {

// True only when the user answers Yes; Escape or the close box count as No. The text is 8-bit:
// shown as UTF-8 when it is valid UTF-8, else as Latin-1.
bool AskYesNo(std::string_view message, QWidget* parent = nullptr);

}  // namespace dovrik
