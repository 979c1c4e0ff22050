// A TLS server for the socket's TLS tests, on 127.0.0.1 in a thread of its own: it accepts one
// connection, shows the certificate it was given, optionally asks for a renegotiation, and keeps
// every decrypted byte it receives until the client closes. Also makes certificates with RSA keys
// of a chosen size under an authority of its own, in memory.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tests/socket/socket_test_util.h"

namespace dovrik::test {

struct PeerCertificate {
  std::string cert_pem;
  std::string key_pem;
};

// An authority (P-256) that signs leaves for 127.0.0.1 with RSA keys of the given size.
class RsaAuthority {
 public:
  RsaAuthority() : key_(EVP_EC_gen("P-256")), cert_(Make(key_.get(), nullptr, nullptr, true)) {
    ca_file_ = (std::filesystem::temp_directory_path() /
                ("dovrik-rsa-ca-" + std::to_string(::getpid()) + ".pem"))
                   .string();
    std::ofstream(ca_file_) << Pem(cert_.get());
  }
  ~RsaAuthority() { std::filesystem::remove(ca_file_); }
  const std::string& CaFile() const { return ca_file_; }

  PeerCertificate Issue(int rsa_bits) const {
    Key key(EVP_RSA_gen(static_cast<unsigned>(rsa_bits)));
    Cert cert = Make(key.get(), cert_.get(), key_.get(), false);
    PeerCertificate out;
    out.cert_pem = Pem(cert.get());
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    out.key_pem = BioText(bio.get());
    return out;
  }

 private:
  struct FreeKey {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
  };
  struct FreeCert {
    void operator()(X509* c) const { X509_free(c); }
  };
  using Key = std::unique_ptr<EVP_PKEY, FreeKey>;
  using Cert = std::unique_ptr<X509, FreeCert>;

  static std::string BioText(BIO* bio) {
    char* p = nullptr;
    const long n = BIO_get_mem_data(bio, &p);
    return std::string(p, static_cast<std::size_t>(n));
  }
  static std::string Pem(X509* cert) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_X509(bio.get(), cert);
    return BioText(bio.get());
  }
  static void Extend(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
  }
  static Cert Make(EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key, bool ca) {
    static std::atomic<long> serial{1};
    Cert cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    const char* cn = ca ? "Dovrik RSA test authority" : "127.0.0.1";
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn),
                               -1, -1, 0);
    X509* signer = issuer != nullptr ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    if (ca) {
      Extend(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
      Extend(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
      Extend(cert.get(), signer, NID_basic_constraints, "CA:FALSE");
      Extend(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1");
      Extend(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    }
    X509_sign(cert.get(), issuer_key != nullptr ? issuer_key : key, EVP_sha256());
    return cert;
  }

  Key key_;
  Cert cert_;
  std::string ca_file_;
};

struct PeerOptions {
  PeerCertificate cert;
  bool tls12_only = false;
  bool renegotiate = false;  // asks for a new handshake right after the greeting
  std::string greeting = "hello\r\n";
};

class TlsTestPeer {
 public:
  explicit TlsTestPeer(PeerOptions options) : options_(std::move(options)) {
    std::signal(SIGPIPE, SIG_IGN);  // a client that breaks off must not end the test process
    listener_ = Fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = Loopback(0);
    ::bind(listener_.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_.fd, 1);
    port_ = LocalPort(listener_.fd);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TlsTestPeer() {
    stop_ = true;
    // Wakes a blocked read; the thread sees the end and goes.
    if (const int fd = conn_.load(); fd >= 0) ::shutdown(fd, SHUT_RDWR);
    thread_.join();
  }
  int Port() const { return port_; }
  bool Done() const { return done_; }
  int ClientHellos() const { return client_hellos_; }
  std::string Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  void Serve() {
    pollfd p{listener_.fd, POLLIN, 0};
    // Bounded, so a test that never connects still ends.
    while (!stop_ && ::poll(&p, 1, 100) == 0) {
    }
    if (stop_) return;
    Fd conn(::accept(listener_.fd, nullptr, nullptr));
    conn_ = conn.fd;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_server_method()),
                                                          SSL_CTX_free);
    SSL_CTX_set_security_level(ctx.get(), 0);  // it must be able to show weak keys
    if (options_.tls12_only) SSL_CTX_set_max_proto_version(ctx.get(), TLS1_2_VERSION);
    Use(ctx.get());
    // Every handshake the client takes part in starts with its hello; one sent in answer to the
    // request for a new handshake shows that the client renegotiated.
    SSL_CTX_set_client_hello_cb(
        ctx.get(),
        [](SSL*, int*, void* self) {
          ++static_cast<TlsTestPeer*>(self)->client_hellos_;
          return SSL_CLIENT_HELLO_SUCCESS;
        },
        this);
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), SSL_free);
    SSL_set_fd(ssl.get(), conn.fd);
    if (SSL_accept(ssl.get()) == 1) {
      SSL_write(ssl.get(), options_.greeting.data(), static_cast<int>(options_.greeting.size()));
      if (options_.renegotiate) {
        SSL_renegotiate(ssl.get());
        SSL_do_handshake(ssl.get());
      }
      char buffer[4096];
      for (;;) {
        const int n = SSL_read(ssl.get(), buffer, sizeof buffer);
        if (n <= 0) break;
        std::lock_guard<std::mutex> lock(mutex_);
        received_.append(buffer, static_cast<std::size_t>(n));
      }
    }
    conn_ = -1;
    done_ = true;
  }
  void Use(SSL_CTX* ctx) {
    std::unique_ptr<BIO, decltype(&BIO_free)> c(BIO_new_mem_buf(options_.cert.cert_pem.data(), -1),
                                                BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(c.get(), nullptr, nullptr, nullptr), X509_free);
    std::unique_ptr<BIO, decltype(&BIO_free)> k(BIO_new_mem_buf(options_.cert.key_pem.data(), -1),
                                                BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(k.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    SSL_CTX_use_certificate(ctx, cert.get());
    SSL_CTX_use_PrivateKey(ctx, key.get());
  }

  PeerOptions options_;
  Fd listener_;
  int port_ = 0;
  std::thread thread_;
  std::atomic<int> conn_{-1};
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::atomic<int> client_hellos_{0};
  mutable std::mutex mutex_;
  std::string received_;
};

}  // namespace dovrik::test
