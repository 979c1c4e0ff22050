// What the TLS layer refuses whatever the peer or the machine's configuration: keys too weak
// under a trusted authority, a renegotiation that would show a second certificate, and bytes
// the owner sent during the handshake going out before it has judged the certificate.
#include <gtest/gtest.h>

#include <cstdlib>

#include "socket/wsocket.h"
#include "tests/socket/socket_test_util.h"
#include "tests/socket/tls_test_peer.h"
#include "tools/mailserver/test_certificates.h"

namespace dovrik::test {
namespace {

class TlsHardeningTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetMainThread(); }

  // TLS from the first byte against the peer; true once OnSessionConnected has fired.
  bool ConnectImplicit(const TlsTestPeer& peer, const std::string& ca_file) {
    sock_ = std::make_unique<TWSocket>();
    sock_->SetMultiThreaded(true);
    sock_->SetAddr("127.0.0.1");
    sock_->SetPort(std::to_string(peer.Port()));
    sock_->SetTlsAtConnect(TTlsParams{"127.0.0.1", ca_file});
    sock_->OnSessionConnected = [this](TObject*, Word e) {
      connected_ = true;
      error_ = e;
    };
    sock_->OnDataAvailable = [this](TObject*, Word) {
      char buffer[256];
      while (sock_->Receive(buffer, sizeof buffer) > 0) {
      }
    };
    sock_->Connect();
    return PumpUntil([&] { return connected_; });
  }

  std::unique_ptr<TWSocket> sock_;
  bool connected_ = false;
  Word error_ = 0xFFFF;
};

TEST_F(TlsHardeningTest, WeakKeyFromTrustedAuthorityIsRefused) {
  if (std::getenv("OPENSSL_CONF") != nullptr) {
    // Run under the lowering configuration: make sure it took effect, or the case proves nothing.
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()),
                                                          SSL_CTX_free);
    ASSERT_EQ(SSL_CTX_get_security_level(ctx.get()), 0);
  }
  const RsaAuthority authority;
  struct Case {
    int bits;
    TTlsProblem problem;
    std::string text;
  };
  const Case cases[] = {
      {1024, TTlsProblem::tpOther, "EE certificate key too weak"},
      {2048, TTlsProblem::tpNone, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bits);
    TlsTestPeer peer(PeerOptions{authority.Issue(c.bits)});
    connected_ = false;
    ASSERT_TRUE(ConnectImplicit(peer, authority.CaFile()));
    EXPECT_EQ(error_, 0);
    EXPECT_EQ(sock_->TlsPeer().problem, c.problem);
    EXPECT_EQ(sock_->TlsPeer().verify_text, c.text);
    sock_.reset();
  }
}

TEST_F(TlsHardeningTest, RenegotiationIsRefused) {
  const tools::TestAuthority authority;
  const tools::TestCertificate cert = authority.Issue(tools::CertKind::kGood);
  PeerOptions options{{cert.cert_pem, cert.key_pem}};
  options.tls12_only = true;
  options.renegotiate = true;
  TlsTestPeer peer(options);
  ASSERT_TRUE(ConnectImplicit(peer, authority.CaFile()));
  ASSERT_EQ(error_, 0);
  EXPECT_EQ(sock_->TlsPeer().protocol, "TLSv1.2");
  // The peer ends the connection when the client declines; a second handshake would end the wait
  // as well, and fail below.
  ASSERT_TRUE(PumpUntil([&] { return peer.Done() || peer.ClientHellos() > 1; }));
  EXPECT_EQ(peer.ClientHellos(), 1);
}

TEST_F(TlsHardeningTest, BytesSentDuringHandshakeWaitForTheOwnersJudgement) {
  enum class Judgement { kRefuse, kAccept, kSendMore };
  struct Case {
    Judgement judgement;
    std::string received;
  };
  const Case cases[] = {
      {Judgement::kRefuse, ""},
      {Judgement::kAccept, "USER me\r\n"},
      {Judgement::kSendMore, "USER me\r\nPASS secret\r\n"},
  };
  const tools::TestAuthority authority;
  const tools::TestCertificate cert = authority.Issue(tools::CertKind::kSelfSigned);
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.judgement));
    TlsTestPeer peer(PeerOptions{{cert.cert_pem, cert.key_pem}});
    TWSocket sock;
    sock.SetMultiThreaded(true);
    sock.SetAddr("127.0.0.1");
    sock.SetPort(std::to_string(peer.Port()));
    TTlsState state_at_send = tlsOff;
    sock.OnSessionConnected = [&](TObject*, Word) {
      sock.StartTls(TTlsParams{"127.0.0.1", authority.CaFile()});
      state_at_send = sock.TlsState();
      sock.SendStr("USER me\r\n");
    };
    bool judged = false;
    sock.OnTlsDone = [&](TObject*, Word e) {
      judged = true;
      EXPECT_EQ(e, 0);
      EXPECT_EQ(sock.TlsPeer().problem, TTlsProblem::tpUntrusted);
      if (c.judgement == Judgement::kRefuse) sock.Close();
      if (c.judgement == Judgement::kAccept) sock.AcceptTlsPeer();
      if (c.judgement == Judgement::kSendMore) sock.SendStr("PASS secret\r\n");
    };
    sock.Connect();
    ASSERT_TRUE(PumpUntil([&] { return judged; }));
    EXPECT_EQ(state_at_send, tlsHandshaking);
    ASSERT_TRUE(PumpUntil([&] { return peer.Received() == c.received; }));
    sock.Close();
    ASSERT_TRUE(PumpUntil([&] { return peer.Done(); }));
    EXPECT_EQ(peer.Received(), c.received);
  }
}

}  // namespace
}  // namespace dovrik::test
