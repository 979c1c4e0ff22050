// What the header panel and the text view show of one retrieved message.
//
// A MIME message is shown decoded (header values and text as UTF-8, attachments listed below the
// text); any other message exactly as the engine's ParseMessage splits it. Pure, GUI thread or
// any other; the retrieved text itself is never changed (Save as writes it as it came).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_types.h"
#include "mime/display_message.h"

namespace dovrik {

class TQuorrel;

// retrieved: the engine's MessageText of the message (the reply to RETR). From, To, Subject and
// Date go to the header panel, Text to the text view.
tQrMessage ShownMessage(const TQuorrel& engine, std::string_view retrieved);

// The lines listing the attachments below the text: an empty line, "Attachments:", then one line
// "  name (type, N bytes)" per attachment; nothing when there are none.
std::string AttachmentLines(const std::vector<mime::Attachment>& attachments);

}  // namespace dovrik
