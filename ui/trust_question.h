// The question about a server certificate that no trusted authority vouches for (typically the
// self-signed certificate of the user's own server). Main thread; modal through the Desktop seam.
#pragma once

#include <QString>
#include <QStringList>

#include "engine/security.h"

class QWidget;

namespace dovrik {

class Desktop;

// The question: which server, why it is not trusted, the certificate's subject, issuer and
// expiry, and its SHA-256 fingerprint for the user to compare with the server's own.
QString TrustQuestionText(const tQrCertificate& certificate);
// The answers in the order of tQrTrust: refuse (the safe one, also Escape), this time, always.
QStringList TrustAnswers();

// Asks through the desktop; closing the question refuses.
tQrTrust AskTrustCertificate(Desktop& desktop, QWidget* parent, const tQrCertificate& certificate);

}  // namespace dovrik
