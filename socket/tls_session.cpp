#include "socket/tls_session.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <map>
#include <mutex>
#include <utility>

#include "socket/socket_exception.h"

namespace dovrik {
namespace {

struct VerifyError {
  int code;
  int depth;
};

// The session's own record of verification problems, reached from the verify callback.
int SessionIndex() {
  static const int kIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return kIndex;
}

// OpenSSL's reason for the last failure on this thread, or fallback.
std::string LastOpenSslError(const std::string& fallback) {
  std::string reason;
  while (const unsigned long e = ERR_get_error()) {
    if (!reason.empty()) continue;  // the first one is the cause
    const char* r = ERR_reason_error_string(e);
    reason = r != nullptr ? r : "error " + std::to_string(ERR_GET_REASON(e));
  }
  return reason.empty() ? fallback : reason;
}

int RecordProblem(int ok, X509_STORE_CTX* store);

// One client context per CA file for the whole process: loading a trust store takes longer than
// a handshake, and a context is safe to share between threads once it is set up.
SSL_CTX* ClientContext(const std::string& ca_file) {
  static std::mutex mutex;
  static std::map<std::string, SSL_CTX*>* contexts = new std::map<std::string, SSL_CTX*>();
  std::lock_guard<std::mutex> guard(mutex);
  auto it = contexts->find(ca_file);
  if (it != contexts->end()) return it->second;
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (ctx == nullptr)
    throw ESocketException("TLS: " + LastOpenSslError("no context for TLS connections"));
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // Fixed here, not taken from the system's configuration: a lowered level would let keys too
  // short to protect anything (1024-bit RSA, say) pass as verified.
  SSL_CTX_set_security_level(ctx, 2);
  // A renegotiation would show a second certificate after the owner judged the first one.
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  const int loaded = ca_file.empty() ? SSL_CTX_set_default_verify_paths(ctx)
                                     : SSL_CTX_load_verify_locations(ctx, ca_file.c_str(), nullptr);
  if (loaded != 1) {
    SSL_CTX_free(ctx);
    throw ESocketException("TLS: cannot load the trusted certificates" +
                           (ca_file.empty() ? std::string() : " of " + ca_file) + ": " +
                           LastOpenSslError("unreadable"));
  }
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, RecordProblem);
  contexts->emplace(ca_file, ctx);
  return ctx;
}

bool IsIpv4(const std::string& host) {
  in_addr a{};
  return inet_pton(AF_INET, host.c_str(), &a) == 1;
}

std::string BioText(BIO* bio) {
  char* p = nullptr;
  const long n = BIO_get_mem_data(bio, &p);
  return n > 0 ? std::string(p, static_cast<std::size_t>(n)) : std::string();
}

std::string NameText(const X509_NAME* name) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
  if (!bio) return {};
  const unsigned long flags =
      (XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB & ~XN_FLAG_SEP_MASK) | XN_FLAG_SEP_CPLUS_SPC;
  X509_NAME_print_ex(bio.get(), name, 0, flags);
  return BioText(bio.get());
}

std::string TimeText(const ASN1_TIME* t) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
  if (!bio || t == nullptr) return {};
  ASN1_TIME_print(bio.get(), t);
  return BioText(bio.get());
}

std::string AltNames(X509* cert) {
  std::string names;
  auto* sans =
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
  if (sans == nullptr) return names;
  for (int i = 0; i < sk_GENERAL_NAME_num(sans); ++i) {
    const GENERAL_NAME* n = sk_GENERAL_NAME_value(sans, i);
    std::string one;
    if (n->type == GEN_DNS) {
      one.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(n->d.dNSName)),
                 static_cast<std::size_t>(ASN1_STRING_length(n->d.dNSName)));
    } else if (n->type == GEN_IPADD && ASN1_STRING_length(n->d.iPAddress) == 4) {
      const unsigned char* b = ASN1_STRING_get0_data(n->d.iPAddress);
      one = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
            std::to_string(b[3]);
    }
    if (one.empty()) continue;
    if (!names.empty()) names += ", ";
    names += one;
  }
  GENERAL_NAMES_free(sans);
  return names;
}

bool IsUntrusted(int code) {
  switch (code) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return true;
    default:
      return false;
  }
}

bool IsExpired(int code) {
  return code == X509_V_ERR_CERT_HAS_EXPIRED || code == X509_V_ERR_CERT_NOT_YET_VALID;
}

bool IsWrongHost(int code) {
  return code == X509_V_ERR_HOSTNAME_MISMATCH || code == X509_V_ERR_IP_ADDRESS_MISMATCH;
}

}  // namespace

struct TlsSession::Impl {
  SSL* ssl = nullptr;
  BIO* in = nullptr;   // owned by ssl
  BIO* out = nullptr;  // owned by ssl
  std::vector<VerifyError> problems;
  ~Impl() {
    if (ssl != nullptr) SSL_free(ssl);
  }
};

namespace {

// The handshake goes on whatever the certificate: each problem is kept for the owner to judge
// before it sends anything (see the header).
int RecordProblem(int ok, X509_STORE_CTX* store) {
  if (ok) return 1;
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* problems =
      ssl != nullptr ? static_cast<std::vector<VerifyError>*>(SSL_get_ex_data(ssl, SessionIndex()))
                     : nullptr;
  if (problems == nullptr) return 0;
  const int code = X509_STORE_CTX_get_error(store);
  const int depth = X509_STORE_CTX_get_error_depth(store);
  for (const auto& p : *problems)
    if (p.code == code && p.depth == depth) return 1;
  problems->push_back({code, depth});
  return 1;
}

}  // namespace

TlsSession::TlsSession(const TTlsParams& params) : impl_(std::make_unique<Impl>()) {
  SSL_CTX* ctx = ClientContext(params.ca_file);
  ERR_clear_error();
  impl_->ssl = SSL_new(ctx);
  impl_->in = BIO_new(BIO_s_mem());
  impl_->out = BIO_new(BIO_s_mem());
  if (impl_->ssl == nullptr || impl_->in == nullptr || impl_->out == nullptr) {
    BIO_free(impl_->in);
    BIO_free(impl_->out);
    throw ESocketException("TLS: " + LastOpenSslError("no TLS session"));
  }
  // An empty input means "wait for more", not the end of the stream.
  BIO_set_mem_eof_return(impl_->in, -1);
  SSL_set_bio(impl_->ssl, impl_->in, impl_->out);
  SSL_set_ex_data(impl_->ssl, SessionIndex(), &impl_->problems);
  SSL_set_connect_state(impl_->ssl);
  X509_VERIFY_PARAM* param = SSL_get0_param(impl_->ssl);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  bool named = false;
  if (IsIpv4(params.host)) {
    // No server name indication for an address: it carries host names only.
    named = X509_VERIFY_PARAM_set1_ip_asc(param, params.host.c_str()) == 1;
  } else if (!params.host.empty()) {
    named = SSL_set_tlsext_host_name(impl_->ssl, params.host.c_str()) == 1 &&
            SSL_set1_host(impl_->ssl, params.host.c_str()) == 1;
  }
  if (!named)
    throw ESocketException("TLS: cannot check certificates for the host '" + params.host + "'");
}

TlsSession::~TlsSession() = default;

TTlsStep TlsSession::Fail(const std::string& why) {
  step_ = TTlsStep::kFailed;
  failure_ = why;
  return step_;
}

TTlsStep TlsSession::Start() {
  std::string none;
  return Advance(none);
}

void TlsSession::Feed(const void* data, std::size_t size) {
  if (size > 0) BIO_write(impl_->in, data, static_cast<int>(size));
}

TTlsStep TlsSession::Advance(std::string& plain) {
  if (step_ == TTlsStep::kFailed) return step_;
  ERR_clear_error();
  if (step_ == TTlsStep::kHandshaking) {
    const int r = SSL_do_handshake(impl_->ssl);
    if (r != 1) {
      const int e = SSL_get_error(impl_->ssl, r);
      if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return step_;
      return Fail(LastOpenSslError("the server broke off the handshake"));
    }
    step_ = TTlsStep::kEstablished;
    ReadPeer();
  }
  // Decrypt straight into the caller's text: one copy of the plain bytes, no more.
  constexpr std::size_t kChunk = 16 * 1024;
  for (;;) {
    const std::size_t old = plain.size();
    plain.resize(old + kChunk);
    std::size_t got = 0;
    const int r = SSL_read_ex(impl_->ssl, plain.data() + old, kChunk, &got);
    plain.resize(old + got);
    if (r == 1) continue;
    const int e = SSL_get_error(impl_->ssl, 0);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_ZERO_RETURN)
      return step_;
    return Fail(LastOpenSslError("the encrypted data was damaged"));
  }
}

bool TlsSession::Write(const void* data, std::size_t size) {
  if (step_ != TTlsStep::kEstablished) return false;
  if (size == 0) return true;
  ERR_clear_error();
  std::size_t written = 0;
  if (SSL_write_ex(impl_->ssl, data, size, &written) == 1 && written == size) return true;
  Fail(LastOpenSslError("encrypting failed"));
  return false;
}

void TlsSession::Shutdown() {
  if (step_ != TTlsStep::kEstablished) return;
  ERR_clear_error();
  SSL_shutdown(impl_->ssl);
  ERR_clear_error();
}

std::string_view TlsSession::Output() const {
  char* p = nullptr;
  const long n = BIO_get_mem_data(impl_->out, &p);
  return n > 0 ? std::string_view(p, static_cast<std::size_t>(n)) : std::string_view();
}

void TlsSession::ConsumeOutput() {
  (void)BIO_reset(impl_->out);
}

void TlsSession::ReadPeer() {
  peer_ = TTlsPeer{};
  peer_.protocol = SSL_get_version(impl_->ssl);
  X509* cert = SSL_get0_peer_certificate(impl_->ssl);
  if (cert == nullptr) {
    peer_.problem = TTlsProblem::tpOther;
    peer_.verify_text = "the server sent no certificate";
    return;
  }
  peer_.subject = NameText(X509_get_subject_name(cert));
  peer_.issuer = NameText(X509_get_issuer_name(cert));
  peer_.not_after = TimeText(X509_get0_notAfter(cert));
  peer_.names = AltNames(cert);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (X509_digest(cert, EVP_sha256(), md, &len) == 1) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned int i = 0; i < len; ++i) {
      if (i > 0) peer_.fingerprint += ':';
      peer_.fingerprint += kHex[md[i] >> 4];
      peer_.fingerprint += kHex[md[i] & 15];
    }
  }
  // The worst problem decides; an expired certificate is expired whoever signed it.
  const VerifyError* worst = nullptr;
  TTlsProblem problem = TTlsProblem::tpNone;
  auto consider = [&](TTlsProblem p, const VerifyError& e) {
    if (problem == TTlsProblem::tpNone || static_cast<int>(p) < static_cast<int>(problem)) {
      problem = p;
      worst = &e;
    }
  };
  for (const auto& e : impl_->problems) {
    if (IsExpired(e.code))
      consider(TTlsProblem::tpExpired, e);
    else if (IsWrongHost(e.code))
      consider(TTlsProblem::tpWrongHost, e);
    else if (IsUntrusted(e.code))
      consider(TTlsProblem::tpUntrusted, e);
    else
      consider(TTlsProblem::tpOther, e);
  }
  // A verification that OpenSSL failed without telling the callback still fails here.
  if (problem == TTlsProblem::tpNone && SSL_get_verify_result(impl_->ssl) != X509_V_OK) {
    problem = TTlsProblem::tpOther;
    peer_.verify_text = X509_verify_cert_error_string(SSL_get_verify_result(impl_->ssl));
  }
  peer_.problem = problem;
  if (worst != nullptr) peer_.verify_text = X509_verify_cert_error_string(worst->code);
}

std::string NormalFingerprint(std::string_view text) {
  std::string hex;
  for (char c : text) {
    if (c == ':' || c == ' ') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (hex.size() != 64) return {};
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    if (i > 0) out += ':';
    out.append(hex, i, 2);
  }
  return out;
}

}  // namespace dovrik
