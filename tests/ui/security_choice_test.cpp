#include "model/security_choice.h"

#include <gtest/gtest.h>

#include "tests/ui/scripted_desktop.h"
#include "ui/trust_question.h"

namespace dovrik {
namespace {

constexpr SecurityMode kNone = SecurityMode::kNone;
constexpr SecurityMode kStartTls = SecurityMode::kStartTls;
constexpr SecurityMode kTls = SecurityMode::kTls;

TEST(SecurityChoice, ProposesTheUsualPortOnlyWhenTheFieldHeldThePreviousOneOrNothing) {
  struct Case {
    const char* port;
    SecurityMode from, to;
    bool incoming;
    std::optional<std::string> proposed;
  };
  const Case cases[] = {
      {"pop3", kNone, kTls, true, "995"},
      {"110", kNone, kTls, true, "995"},
      {"", kNone, kStartTls, true, "110"},
      {"  ", kTls, kNone, true, "110"},
      {"995", kTls, kNone, true, "110"},
      {" POP3S ", kTls, kStartTls, true, "110"},
      {"pop3", kNone, kStartTls, true, std::nullopt},  // already the usual port of STLS
      {"1234", kNone, kTls, true, std::nullopt},       // typed by the user
      {"995", kNone, kStartTls, true, std::nullopt},   // not the usual port of the old choice
      {"smtp", kNone, kStartTls, false, "587"},
      {"25", kNone, kTls, false, "465"},
      {"submission", kStartTls, kTls, false, "465"},
      {"smtps", kTls, kNone, false, "25"},
      {"2525", kNone, kTls, false, std::nullopt},
      {"110", kNone, kTls, false, std::nullopt},  // an incoming port in the outgoing field
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProposedPort(c.port, c.from, c.to, c.incoming), c.proposed)
        << "'" << c.port << "' " << int(c.from) << "->" << int(c.to) << " in=" << c.incoming;
  }
}

TEST(SecurityChoice, EveryChoiceHasACaptionAndAOneLineMeaning) {
  const std::pair<SecurityMode, QString> captions[] = {
      {kNone, "None"}, {kStartTls, "STARTTLS"}, {kTls, "TLS from the first byte"}};
  for (const auto& [mode, caption] : captions) {
    EXPECT_EQ(SecurityCaption(mode), caption);
    EXPECT_FALSE(SecurityMeaning(mode).isEmpty());
    EXPECT_FALSE(SecurityMeaning(mode).contains(QLatin1Char('\n')));
  }
}

TEST(TrustQuestion, ShowsTheCertificateAndMapsTheAnswers) {
  tQrCertificate certificate;
  certificate.Incoming = false;
  certificate.Server = "127.0.0.1";
  certificate.Subject = "CN=mail.example.invalid";
  certificate.Issuer = "CN=mail.example.invalid";
  certificate.Fingerprint = "AB:CD:EF:01";
  certificate.NotAfter = "Dec 10 00:00:00 2027 GMT";
  certificate.Reason = "self-signed certificate";
  const QString text = TrustQuestionText(certificate);
  for (const char* part : {"outgoing server 127.0.0.1", "self-signed certificate",
                           "Subject: CN=mail.example.invalid", "AB:CD:EF:01", "2027"})
    EXPECT_TRUE(text.contains(QString::fromLatin1(part))) << part;

  const std::pair<std::optional<int>, tQrTrust> answers[] = {
      {0, trNo}, {1, trOnce}, {2, trAlways}, {std::nullopt, trNo}};
  for (const auto& [chosen, trust] : answers) {
    testing::ScriptedDesktop desktop;
    desktop.answerChoice(chosen);
    EXPECT_EQ(AskTrustCertificate(desktop, nullptr, certificate), trust);
    ASSERT_EQ(desktop.asked().size(), 1u);
    EXPECT_EQ(desktop.asked()[0].text, text);
    EXPECT_EQ(desktop.asked()[0].detail, TrustAnswers().join('|'));
  }
}

}  // namespace
}  // namespace dovrik
