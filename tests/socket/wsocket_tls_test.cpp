// TLS over the socket against the TLS-speaking test mail server: the implicit handshake before
// OnSessionConnected, encrypted data both ways, the certificate judged for each kind and host, a
// server that doesn't speak TLS, and the calls that TLS rules out.
#include <gtest/gtest.h>

#include "socket/wsocket.h"
#include "tests/socket/socket_test_util.h"
#include "tools/mailserver/mail_server.h"
#include "tools/mailserver/test_certificates.h"

namespace dovrik::test {
namespace {

using tools::CertKind;

class TlsSocketTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { authority_ = new tools::TestAuthority(); }
  static void TearDownTestSuite() {
    delete authority_;
    authority_ = nullptr;
  }
  void SetUp() override { platform::SetMainThread(); }

  std::unique_ptr<tools::MailServer> Server(CertKind kind, tools::MailTls mode) {
    tools::MailBehaviour b;
    b.tls = mode;
    cert_ = authority_->Issue(kind);
    b.cert_pem = cert_.cert_pem;
    b.key_pem = cert_.key_pem;
    b.list_after_user = true;
    return std::make_unique<tools::MailServer>(b);
  }
  // Connects with TLS from the first byte; records what OnSessionConnected saw.
  void Connect(std::uint16_t port, const std::string& host) {
    sock_ = std::make_unique<TWSocket>();
    sock_->SetMultiThreaded(true);
    sock_->SetAddr("127.0.0.1");
    sock_->SetPort(std::to_string(port));
    sock_->SetTlsAtConnect(TTlsParams{host, authority_->CaFile()});
    sock_->OnSessionConnected = [this](TObject*, Word e) {
      connected_ = true;
      error_ = e;
      state_at_connect_ = sock_->TlsState();
    };
    sock_->OnDataAvailable = [this](TObject*, Word) {
      const int n = sock_->RcvdCount();
      std::string chunk(static_cast<std::size_t>(n), '\0');
      const int got = sock_->Receive(chunk.data(), n);
      if (got > 0) received_.append(chunk, 0, static_cast<std::size_t>(got));
    };
    sock_->Connect();
    ASSERT_TRUE(PumpUntil([&] { return connected_; }));
  }

  static tools::TestAuthority* authority_;
  tools::TestCertificate cert_;
  std::unique_ptr<TWSocket> sock_;
  bool connected_ = false;
  Word error_ = 0xFFFF;
  TTlsState state_at_connect_ = tlsOff;
  std::string received_;
};

tools::TestAuthority* TlsSocketTest::authority_ = nullptr;

TEST_F(TlsSocketTest, ImplicitTlsCarriesDataBothWays) {
  auto server = Server(CertKind::kGood, tools::MailTls::kImplicit);
  Connect(server->Port(), "127.0.0.1");
  EXPECT_EQ(error_, 0);
  EXPECT_EQ(state_at_connect_, tlsEstablished);
  const TTlsPeer& peer = sock_->TlsPeer();
  EXPECT_EQ(peer.problem, TTlsProblem::tpNone);
  EXPECT_EQ(peer.subject, "CN=localhost, O=Dovrik tests");
  EXPECT_EQ(peer.issuer, "CN=Dovrik test authority, O=Dovrik tests");
  EXPECT_EQ(peer.fingerprint, cert_.fingerprint);
  EXPECT_EQ(peer.names, "localhost, 127.0.0.1");
  EXPECT_EQ(peer.protocol, "TLSv1.3");
  ASSERT_TRUE(PumpUntil([&] { return received_ == "+OK Dovrik test server ready\r\n"; }));
  sock_->SendStr("USER user\r\nLIST\r\n");
  ASSERT_TRUE(PumpUntil([&] { return received_.find("\r\n.\r\n") != std::string::npos; }));
  EXPECT_EQ(received_, "+OK Dovrik test server ready\r\n+OK\r\n+OK 0 messages\r\n.\r\n");
  sock_->SendStr("QUIT\r\n");
  ASSERT_TRUE(server->WaitClosed(1, std::chrono::seconds(5)));
  EXPECT_EQ(server->Received(0), "USER user\r\nLIST\r\nQUIT\r\n");
  EXPECT_EQ(server->ReceivedInClear(0), "");
  sock_->Close();
  EXPECT_EQ(sock_->State(), wsClosed);
}

TEST_F(TlsSocketTest, WhatIsSentOnHearingOfTheConnectionGoesOutEncrypted) {
  auto server = Server(CertKind::kGood, tools::MailTls::kImplicit);
  sock_ = std::make_unique<TWSocket>();
  sock_->SetMultiThreaded(true);
  sock_->SetAddr("127.0.0.1");
  sock_->SetPort(std::to_string(server->Port()));
  sock_->SetTlsAtConnect(TTlsParams{"127.0.0.1", authority_->CaFile()});
  sock_->OnChangeState = [this](TObject*, TSocketState, TSocketState now) {
    if (now == wsConnected) sock_->SendStr("USER user\r\n");
  };
  sock_->OnSessionConnected = [this](TObject*, Word e) {
    connected_ = true;
    error_ = e;
  };
  sock_->Connect();
  ASSERT_TRUE(PumpUntil([&] { return connected_; }));
  ASSERT_EQ(error_, 0);
  sock_->AcceptTlsPeer();
  ASSERT_TRUE(PumpUntil([&] { return server->Received(0) == "USER user\r\n"; }));
  EXPECT_EQ(server->ReceivedInClear(0), "");
  EXPECT_TRUE(server->Encrypted(0));
}

TEST_F(TlsSocketTest, CertificateProblemsForEachKindAndHost) {
  struct Case {
    CertKind kind;
    std::string host;
    TTlsProblem problem;
    std::string text;
  };
  const std::vector<Case> cases = {
      {CertKind::kGood, "localhost", TTlsProblem::tpNone, ""},
      {CertKind::kGood, "127.0.0.2", TTlsProblem::tpWrongHost, "IP address mismatch"},
      {CertKind::kGood, "mail.example", TTlsProblem::tpWrongHost, "hostname mismatch"},
      {CertKind::kWrongHost, "localhost", TTlsProblem::tpWrongHost, "hostname mismatch"},
      {CertKind::kExpired, "127.0.0.1", TTlsProblem::tpExpired, "certificate has expired"},
      {CertKind::kSelfSigned, "127.0.0.1", TTlsProblem::tpUntrusted, "self-signed certificate"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host + " " + std::to_string(static_cast<int>(c.kind)));
    auto server = Server(c.kind, tools::MailTls::kImplicit);
    connected_ = false;
    Connect(server->Port(), c.host);
    EXPECT_EQ(error_, 0);  // the handshake itself never refuses: the owner judges
    EXPECT_EQ(sock_->TlsPeer().problem, c.problem);
    EXPECT_EQ(sock_->TlsPeer().verify_text, c.text);
    sock_.reset();
  }
}

TEST_F(TlsSocketTest, ServerWithoutTlsFailsTheHandshake) {
  auto server = Server(CertKind::kGood, tools::MailTls::kNone);
  Connect(server->Port(), "127.0.0.1");
  EXPECT_EQ(error_, kTlsFailedError);
  EXPECT_EQ(sock_->TlsState(), tlsFailed);
  EXPECT_FALSE(sock_->TlsFailure().empty());
  EXPECT_EQ(received_, "");  // the clear greeting is never handed on as data
}

TEST_F(TlsSocketTest, CallsThatTlsRulesOut) {
  TWSocket idle;
  EXPECT_THROW(idle.StartTls(TTlsParams{"127.0.0.1", ""}), ESocketException);
  auto server = Server(CertKind::kGood, tools::MailTls::kImplicit);
  Connect(server->Port(), "127.0.0.1");
  EXPECT_THROW(sock_->StartTls(TTlsParams{"127.0.0.1", ""}), ESocketException);
  std::string line;
  EXPECT_THROW(sock_->ReadLine(1, line), ESocketException);
  EXPECT_THROW(TlsSession(TTlsParams{"127.0.0.1", "/nonexistent/ca.pem"}), ESocketException);
}

}  // namespace
}  // namespace dovrik::test
