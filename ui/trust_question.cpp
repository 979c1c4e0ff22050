#include "ui/trust_question.h"

#include "model/display_text.h"
#include "ui/desktop.h"

namespace dovrik {

QString TrustQuestionText(const tQrCertificate& certificate) {
  return QStringLiteral(
             "The certificate of the %1 server %2 is not vouched for by any authority this "
             "computer trusts (%3).\n\n"
             "Subject: %4\nIssued by: %5\nValid until: %6\nSHA-256 fingerprint:\n%7\n\n"
             "Trust it only if this is the fingerprint of your own server's certificate. Nothing "
             "has been sent to the server yet.")
      .arg(certificate.Incoming ? QStringLiteral("incoming") : QStringLiteral("outgoing"),
           DisplayText(certificate.Server), DisplayText(certificate.Reason),
           DisplayText(certificate.Subject), DisplayText(certificate.Issuer),
           DisplayText(certificate.NotAfter), DisplayText(certificate.Fingerprint));
}

QStringList TrustAnswers() {
  return {QStringLiteral("Refuse"), QStringLiteral("Trust this time"),
          QStringLiteral("Always trust this certificate")};
}

tQrTrust AskTrustCertificate(Desktop& desktop, QWidget* parent, const tQrCertificate& certificate) {
  const std::optional<int> answer =
      desktop.askChoice(parent, TrustQuestionText(certificate), TrustAnswers());
  if (answer == 1) return trOnce;
  if (answer == 2) return trAlways;
  return trNo;
}

}  // namespace dovrik
