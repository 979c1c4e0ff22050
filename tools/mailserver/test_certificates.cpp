#include "tools/mailserver/test_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>

namespace dovrik::tools {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificates: ") + what);
}

std::string Pem(const std::function<int(BIO*)>& write) {
  Bio bio(BIO_new(BIO_s_mem()), BIO_free);
  Check(bio && write(bio.get()) == 1, "PEM");
  char* p = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &p);
  return std::string(p, static_cast<std::size_t>(n));
}

Key ReadKey(const std::string& pem) {
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  Key key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
  Check(key != nullptr, "read key");
  return key;
}

Cert ReadCert(const std::string& pem) {
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  Cert cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
  Check(cert != nullptr, "read certificate");
  return cert;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  Check(ext != nullptr, "extension");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

// A certificate for cn with the given names, valid from `from` to `to` seconds from now, signed
// by issuer (null: by itself).
TestCertificate Make(const char* cn, const char* names, long from, long to, bool ca, X509* issuer,
                     EVP_PKEY* issuer_key) {
  static std::atomic<long> serial{1};
  Key key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  Check(key != nullptr, "key");
  Cert cert(X509_new(), X509_free);
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), from);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), to);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Dovrik tests"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn),
                             -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  if (ca) {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  } else {
    AddExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE");
    AddExtension(cert.get(), signer, NID_subject_alt_name, names);
    AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
  }
  Check(X509_sign(cert.get(), issuer_key != nullptr ? issuer_key : key.get(), EVP_sha256()) > 0,
        "sign");
  TestCertificate out;
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  Check(X509_digest(cert.get(), EVP_sha256(), md, &len) == 1, "digest");
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned int i = 0; i < len; ++i) {
    if (i > 0) out.fingerprint += ':';
    out.fingerprint += kHex[md[i] >> 4];
    out.fingerprint += kHex[md[i] & 15];
  }
  out.cert_pem = Pem([&](BIO* b) { return PEM_write_bio_X509(b, cert.get()); });
  out.key_pem = Pem([&](BIO* b) {
    return PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  return out;
}

constexpr long kDay = 24 * 3600;
constexpr const char* kLocal = "DNS:localhost,IP:127.0.0.1";

}  // namespace

TestAuthority::TestAuthority() {
  ca_ = Make("Dovrik test authority", nullptr, -kDay, 30 * kDay, true, nullptr, nullptr);
  std::string path = (std::filesystem::temp_directory_path() / "dovrik-ca-XXXXXX").string();
  const int fd = mkstemp(path.data());
  Check(fd >= 0, "CA file");
  const bool written = write(fd, ca_.cert_pem.data(), ca_.cert_pem.size()) ==
                       static_cast<ssize_t>(ca_.cert_pem.size());
  close(fd);
  Check(written, "CA file");
  ca_file_ = path;
}

TestAuthority::~TestAuthority() {
  if (!ca_file_.empty()) std::remove(ca_file_.c_str());
}

TestCertificate TestAuthority::Issue(CertKind kind) const {
  Cert ca = ReadCert(ca_.cert_pem);
  Key ca_key = ReadKey(ca_.key_pem);
  switch (kind) {
    case CertKind::kGood:
      return Make("localhost", kLocal, -kDay, 30 * kDay, false, ca.get(), ca_key.get());
    case CertKind::kWrongHost:
      return Make("other.invalid", "DNS:other.invalid", -kDay, 30 * kDay, false, ca.get(),
                  ca_key.get());
    case CertKind::kExpired:
      return Make("localhost", kLocal, -30 * kDay, -kDay, false, ca.get(), ca_key.get());
    case CertKind::kSelfSigned:
      return Make("localhost", kLocal, -kDay, 30 * kDay, false, nullptr, nullptr);
  }
  return {};
}

}  // namespace dovrik::tools
