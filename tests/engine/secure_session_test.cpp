// Encrypted sessions against the test mail server: what goes on the wire before and after the
// handshake in each mode, the SMTP login, every failure with its code and text (and nothing of the
// user's sent), and the question about a certificate no authority vouches for.
#include <gtest/gtest.h>

#include "engine/smtp_reply.h"
#include "tests/engine/engine_fixture.h"
#include "tools/mailserver/test_certificates.h"

namespace dovrik::testing {
namespace {

using tools::CertKind;
using tools::MailBehaviour;
using tools::MailTls;

class SecureTest : public EngineTest {
 protected:
  static void SetUpTestSuite() { authority_ = new tools::TestAuthority(); }
  static void TearDownTestSuite() {
    delete authority_;
    authority_ = nullptr;
  }
  void SetUp() override {
    EngineTest::SetUp();
    engine_->SetCaFile(authority_->CaFile());
  }
  static MailBehaviour Tls(MailTls mode, CertKind kind = CertKind::kGood) {
    MailBehaviour b;
    b.tls = mode;
    const auto cert = authority_->Issue(kind);
    b.cert_pem = cert.cert_pem;
    b.key_pem = cert.key_pem;
    return b;
  }
  static MailBehaviour SmtpTls(MailTls mode, std::string auth = "PLAIN LOGIN") {
    MailBehaviour b = Tls(mode);
    b.protocol = tools::MailProtocol::kSmtp;
    b.auth = std::move(auth);
    b.auth_required = true;
    return b;
  }
  static bool Leaks(const std::string& wire) {
    return wire.find("USER") != std::string::npos || wire.find("PASS") != std::string::npos ||
           wire.find("AUTH") != std::string::npos || wire.find("secret") != std::string::npos;
  }

  static tools::TestAuthority* authority_;
};

tools::TestAuthority* SecureTest::authority_ = nullptr;

const std::string kLogin = "USER user\r\nLIST\r\nPASS secret\r\n";

TEST_F(SecureTest, Pop3WireOfEachMode) {
  struct Case {
    SecurityMode mode;
    MailTls server;
    std::string clear;  // what went out before the handshake
  };
  const std::vector<Case> cases = {
      {SecurityMode::kTls, MailTls::kImplicit, ""},
      {SecurityMode::kStartTls, MailTls::kStartTls, "STLS\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    // A message larger than one read of the TLS layer, to carry data across many records.
    MailBehaviour b = Tls(c.server);
    b.messages = {Mailbox()[0], "Subject: big\r\n\r\n" + std::string(300000, 'x') + "\r\n"};
    auto& server = Pop3(b);
    engine_->SetInSecurity(c.mode);
    GivePassword({"secret", "secret"});
    done_.clear();
    ASSERT_TRUE(engine_->Check());
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(acCheck), 0) << engine_->ErrorText(acCheck);
    EXPECT_EQ(engine_->MessageCount(), 2);
    ASSERT_TRUE(engine_->GetMessage(2));
    ASSERT_TRUE(AwaitDone(2));
    EXPECT_EQ(engine_->ErrorCode(acGetMessage), 0) << engine_->ErrorText(acGetMessage);
    EXPECT_NE(engine_->MessageText().find(std::string(300000, 'x') + "\r\n.\r\n"),
              std::string::npos);
    ASSERT_TRUE(server.WaitClosed(2, std::chrono::seconds(5)));
    EXPECT_TRUE(server.Encrypted(0));
    EXPECT_EQ(server.ReceivedInClear(0), c.clear);
    EXPECT_EQ(server.Received(0), c.clear + kLogin + "STAT\r\nQUIT\r\n");
    EXPECT_EQ(server.ReceivedInClear(1), c.clear);
    EXPECT_EQ(server.Received(1), c.clear + kLogin + "RETR 2\r\nUIDL 2\r\nQUIT\r\n");
  }
}

TEST_F(SecureTest, SmtpWireOfEachModeWithLogin) {
  const std::string plain = "AUTH PLAIN " + Base64(std::string("\0user\0secret", 12)) + "\r\n";
  const std::string login = "AUTH LOGIN\r\n" + Base64("user") + "\r\n" + Base64("secret") + "\r\n";
  const std::string send = "MAIL FROM:<a@x>\r\nRCPT TO:<b@x>\r\nDATA\r\nHi\r\n..x\r\n\r\n.\r\n\r\n";
  struct Case {
    SecurityMode mode;
    MailTls server;
    std::string auth;
    std::string clear;
    std::string login;
    std::string go_ahead = {};  // STARTTLS's, when not the usual one-line one
  };
  const std::string starttls = "EHLO [127.0.0.1]\r\nSTARTTLS\r\n";
  const std::vector<Case> cases = {
      {SecurityMode::kTls, MailTls::kImplicit, "PLAIN LOGIN", "", plain},
      {SecurityMode::kStartTls, MailTls::kStartTls, "PLAIN LOGIN", starttls, plain},
      {SecurityMode::kStartTls, MailTls::kStartTls, "LOGIN", starttls, login},
      {SecurityMode::kStartTls, MailTls::kStartTls, "PLAIN", starttls, plain,
       "220-Ready\r\n220-to start\r\n220 TLS\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.auth + " " + std::to_string(static_cast<int>(c.mode)) + " " + c.go_ahead);
    MailBehaviour b = SmtpTls(c.server, c.auth);
    b.starttls_go_ahead = c.go_ahead;
    auto& server = Smtp(b);
    engine_->SetOutSecurity(c.mode);
    GivePassword({"secret"});
    done_.clear();
    ASSERT_TRUE(engine_->SendMail("a@x", "b@x", "Hi\n.x"));
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(acSend), 0) << engine_->ErrorText(acSend);
    EXPECT_EQ(pass_calls_, 1u);
    ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
    EXPECT_EQ(server.ReceivedInClear(0), c.clear);
    EXPECT_EQ(server.Received(0), c.clear + "EHLO [127.0.0.1]\r\n" + c.login + send);
    EXPECT_EQ(server.MailboxCount(), 1u);
  }
}

TEST_F(SecureTest, FailuresEndBeforeCredentials) {
  struct Case {
    std::string name;
    bool smtp;
    SecurityMode mode;
    MailBehaviour server;
    int code;
    std::vector<std::string> text;  // parts the text must hold
  };
  auto pop3 = [](MailBehaviour b) { return b; };
  auto smtp = [](MailBehaviour b) {
    b.protocol = tools::MailProtocol::kSmtp;
    b.auth = "PLAIN";
    return b;
  };
  MailBehaviour no_stls = Tls(MailTls::kStartTls);
  no_stls.tls_offered = false;
  MailBehaviour drop = Tls(MailTls::kStartTls);
  drop.tls_drop = true;
  MailBehaviour injected = Tls(MailTls::kStartTls);
  injected.tls_extra = "+OK forged\r\n";
  MailBehaviour injected_late = Tls(MailTls::kStartTls);
  injected_late.starttls_go_ahead = "220-Ready\r\n220 Go ahead\r\n";
  injected_late.tls_extra = "250 forged\r\n";
  MailBehaviour plain_server;  // speaks in clear where TLS was chosen
  const std::vector<Case> cases = {
      {"no STLS",
       false,
       SecurityMode::kStartTls,
       pop3(no_stls),
       kQrTlsNotOffered,
       {"does not offer encryption (STLS)", "-ERR STLS not available", "were not sent"}},
      {"no STARTTLS",
       true,
       SecurityMode::kStartTls,
       smtp(no_stls),
       kQrTlsNotOffered,
       {"does not offer encryption (STARTTLS)"}},
      {"drop after STLS",
       false,
       SecurityMode::kStartTls,
       pop3(drop),
       kQrTlsFailed,
       {"No encrypted connection to 127.0.0.1", "closed the connection"}},
      {"drop after STARTTLS",
       true,
       SecurityMode::kStartTls,
       smtp(drop),
       kQrTlsFailed,
       {"closed the connection"}},
      {"clear bytes after go-ahead",
       false,
       SecurityMode::kStartTls,
       pop3(injected),
       kQrTlsFailed,
       {"unencrypted data after agreeing to encrypt"}},
      {"clear bytes after a multi-line go-ahead",
       true,
       SecurityMode::kStartTls,
       smtp(injected_late),
       kQrTlsFailed,
       {"unencrypted data after agreeing to encrypt"}},
      {"no TLS at all",
       false,
       SecurityMode::kTls,
       pop3(plain_server),
       kQrTlsFailed,
       {"No encrypted connection to 127.0.0.1"}},
      {"wrong host",
       false,
       SecurityMode::kTls,
       pop3(Tls(MailTls::kImplicit, CertKind::kWrongHost)),
       kQrCertWrongHost,
       {"is for other.invalid, not for 127.0.0.1", "subject CN=other.invalid"}},
      {"expired",
       true,
       SecurityMode::kTls,
       smtp(Tls(MailTls::kImplicit, CertKind::kExpired)),
       kQrCertExpired,
       {"has expired", "valid until", "issued by CN=Dovrik test authority"}},
      {"self-signed",
       false,
       SecurityMode::kStartTls,
       pop3(Tls(MailTls::kStartTls, CertKind::kSelfSigned)),
       kQrCertUntrusted,
       {"is not trusted (self-signed certificate)", "SHA-256 fingerprint "}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tools::MailServer& server = c.smtp ? Smtp(c.server) : Pop3(c.server);
    engine_->SetInSecurity(c.mode);
    engine_->SetOutSecurity(c.mode);
    GivePassword({"secret"});
    done_.clear();
    const tQrAction action = c.smtp ? acSend : acCheck;
    ASSERT_TRUE(c.smtp ? engine_->SendMail("a@x", "b@x", "Hi") : engine_->Check());
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(action), c.code);
    for (const auto& part : c.text)
      EXPECT_NE(engine_->ErrorText(action).find(part), std::string::npos)
          << engine_->ErrorText(action);
    EXPECT_EQ(pass_calls_, 0u);
    ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
    EXPECT_FALSE(Leaks(server.Received(0))) << server.Received(0);
  }
}

TEST_F(SecureTest, CertificateFromAnotherAuthorityIsUntrusted) {
  tools::TestAuthority other;
  engine_->SetCaFile(other.CaFile());
  auto& server = Pop3(Tls(MailTls::kImplicit));
  engine_->SetInSecurity(SecurityMode::kTls);
  GivePassword({"secret"});
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acCheck), kQrCertUntrusted);
  EXPECT_EQ(engine_->ErrorText(acCheck).rfind("The certificate of 127.0.0.1 is not trusted (", 0),
            0u)
      << engine_->ErrorText(acCheck);
  ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
  EXPECT_EQ(server.Received(0), "");
}

TEST_F(SecureTest, HandshakeStallTimesOut) {
  for (const SecurityMode mode : {SecurityMode::kTls, SecurityMode::kStartTls}) {
    SCOPED_TRACE(static_cast<int>(mode));
    MailBehaviour b = Tls(mode == SecurityMode::kTls ? MailTls::kImplicit : MailTls::kStartTls);
    b.tls_stall = true;
    auto& server = Pop3(b);
    engine_->SetInSecurity(mode);
    GivePassword({"secret"});
    done_.clear();
    ASSERT_TRUE(engine_->Check());
    // The client's first handshake message has reached the server: the session waits for the
    // answer now.
    const std::size_t before = mode == SecurityMode::kTls ? 0 : 6;
    ASSERT_TRUE(PumpUntil([&] { return server.Received(0).size() > before; }));
    Elapse(11);
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(acCheck), kQrTlsFailed);
    EXPECT_NE(engine_->ErrorText(acCheck).find("did not complete the handshake within 10 seconds"),
              std::string::npos)
        << engine_->ErrorText(acCheck);
    EXPECT_FALSE(Leaks(server.Received(0)));
  }
}

TEST_F(SecureTest, TrustQuestionForSelfSignedCertificate) {
  const auto cert = authority_->Issue(CertKind::kSelfSigned);
  MailBehaviour b;
  b.tls = MailTls::kImplicit;
  b.cert_pem = cert.cert_pem;
  b.key_pem = cert.key_pem;
  engine_->SetInSecurity(SecurityMode::kTls);
  GivePassword({"secret", "secret", "secret"});
  std::vector<tQrCertificate> asked;
  tQrTrust answer = trNo;
  engine_->OnTrustCertificate = [&](TQuorrel*, const tQrCertificate& c, tQrTrust& a) {
    EXPECT_TRUE(platform::IsMainThread());
    asked.push_back(c);
    a = answer;
  };
  struct Step {
    tQrTrust answer;
    int code;
    std::size_t questions;  // asked so far
    std::vector<std::string> trusted;
  };
  const std::vector<Step> steps = {
      {trNo, kQrCertUntrusted, 1, {}},
      {trOnce, 0, 2, {}},
      {trAlways, 0, 3, {cert.fingerprint}},
      {trNo, 0, 3, {cert.fingerprint}},  // trusted now: no question
  };
  for (const auto& s : steps) {
    auto& server = Pop3(b);
    answer = s.answer;
    done_.clear();
    ASSERT_TRUE(engine_->Check());
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(acCheck), s.code) << engine_->ErrorText(acCheck);
    EXPECT_EQ(asked.size(), s.questions);
    EXPECT_EQ(engine_->InTrusted(), s.trusted);
    ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
    EXPECT_EQ(server.Received(0).empty(), s.code != 0);
  }
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked[0].Fingerprint, cert.fingerprint);
  EXPECT_EQ(asked[0].Subject, "CN=localhost, O=Dovrik tests");
  EXPECT_EQ(asked[0].Server, "127.0.0.1");
  EXPECT_TRUE(asked[0].Incoming);
  EXPECT_EQ(asked[0].Reason, "self-signed certificate");
}

TEST_F(SecureTest, TrustedFingerprintDoesNotExcuseExpiryOrWrongHost) {
  for (const CertKind kind : {CertKind::kExpired, CertKind::kWrongHost}) {
    const auto cert = authority_->Issue(kind);
    MailBehaviour b;
    b.tls = MailTls::kImplicit;
    b.cert_pem = cert.cert_pem;
    b.key_pem = cert.key_pem;
    auto& server = Pop3(b);
    engine_->SetInSecurity(SecurityMode::kTls);
    // Any spelling of the fingerprint counts.
    std::string lower = cert.fingerprint;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    engine_->SetInTrusted({lower});
    done_.clear();
    ASSERT_TRUE(engine_->Check());
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(acCheck),
              kind == CertKind::kExpired ? kQrCertExpired : kQrCertWrongHost);
    ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
    EXPECT_EQ(server.Received(0), "");
  }
}

TEST_F(SecureTest, SmtpLoginRefusedOrNoPassword) {
  struct Case {
    std::vector<std::string> answers;
    std::string text;
    std::string wire_end;
  };
  const std::vector<Case> cases = {
      {{"wrong"},
       "535 Authentication credentials invalid\r\n",
       "AUTH PLAIN " + Base64(std::string("\0user\0wrong", 11)) + "\r\n"},
      {{""}, "No password given", "EHLO [127.0.0.1]\r\n"},
  };
  for (const auto& c : cases) {
    auto& server = Smtp(SmtpTls(MailTls::kImplicit));
    engine_->SetOutSecurity(SecurityMode::kTls);
    GivePassword(c.answers);
    done_.clear();
    ASSERT_TRUE(engine_->SendMail("a@x", "b@x", "Hi"));
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(acSend), kQrAuthRefused);
    EXPECT_EQ(engine_->ErrorText(acSend), c.text);
    ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
    const std::string wire = server.Received(0);
    EXPECT_EQ(wire.substr(wire.size() - std::min(wire.size(), c.wire_end.size())), c.wire_end);
    EXPECT_EQ(wire.find("MAIL"), std::string::npos);
  }
}

TEST(SmtpReplyTest, ExtensionsAndLoginLines) {
  const std::string ehlo =
      "250-mail.example\r\n250-SIZE 1000\r\n250-starttls\r\n250-AUTH=LOGIN\r\n250-AUTH PLAIN "
      "login\r\n250 8BITMIME\r\n";
  EXPECT_TRUE(SmtpOffers(ehlo, "STARTTLS"));
  EXPECT_FALSE(SmtpOffers(ehlo, "START"));
  EXPECT_FALSE(SmtpOffers("250-STARTTLS", "STARTTLS"));  // not a complete line yet
  EXPECT_EQ(SmtpAuthMechanisms(ehlo), (std::vector<std::string>{"LOGIN"}));
  EXPECT_EQ(SmtpAuthMechanisms("250 AUTH PLAIN login\r\n"),
            (std::vector<std::string>{"PLAIN", "LOGIN"}));
  EXPECT_TRUE(SmtpAuthMechanisms("250 OK\r\n").empty());
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}})
    EXPECT_EQ(Base64(in), out);
}

}  // namespace
}  // namespace dovrik::testing
