#include "model/shown_message.h"

#include "engine/quorrel.h"

namespace dovrik {

std::string AttachmentLines(const std::vector<mime::Attachment>& attachments) {
  if (attachments.empty()) return {};
  std::string lines = "\r\nAttachments:\r\n";
  for (const mime::Attachment& a : attachments) {
    lines += "  " + (a.name.empty() ? std::string("(no name)") : a.name) + " (" +
             (a.type.empty() ? std::string("application/octet-stream") : a.type) + ", " +
             std::to_string(a.size) + " bytes)\r\n";
  }
  return lines;
}

tQrMessage ShownMessage(const TQuorrel& engine, std::string_view retrieved) {
  tQrMessage shown;
  if (!mime::IsMimeMessage(retrieved, mime::Framing::kPop3Reply)) {
    engine.ParseMessage(retrieved, shown);
    return shown;
  }
  mime::DisplayMessage decoded = mime::DecodeForDisplay(retrieved, mime::Framing::kPop3Reply);
  shown.From = std::move(decoded.from);
  shown.To = std::move(decoded.to);
  shown.Subject = std::move(decoded.subject);
  shown.Date = std::move(decoded.date);
  shown.Text = std::move(decoded.text) + AttachmentLines(decoded.attachments);
  return shown;
}

}  // namespace dovrik
