// Certificates for tests, made fresh in memory each run (no private key is ever kept in the
// repository): a test authority, and server certificates that are good, for another host,
// expired, or self-signed. Keys are P-256, which takes milliseconds to make.
#pragma once

#include <string>

namespace dovrik::tools {

struct TestCertificate {
  std::string cert_pem;
  std::string key_pem;
  std::string fingerprint;  // SHA-256, "AB:CD:…"
};

enum class CertKind {
  kGood,        // from the test authority, for localhost and 127.0.0.1
  kWrongHost,   // from the test authority, for other.invalid only
  kExpired,     // from the test authority, for localhost and 127.0.0.1, expired yesterday
  kSelfSigned,  // signed by its own key, for localhost and 127.0.0.1
};

class TestAuthority {
 public:
  TestAuthority();
  ~TestAuthority();
  TestAuthority(const TestAuthority&) = delete;
  TestAuthority& operator=(const TestAuthority&) = delete;

  TestCertificate Issue(CertKind kind) const;
  const std::string& CaPem() const { return ca_.cert_pem; }
  // A PEM file holding the authority's certificate, removed by the destructor.
  const std::string& CaFile() const { return ca_file_; }

 private:
  TestCertificate ca_;
  std::string ca_file_;
};

}  // namespace dovrik::tools
