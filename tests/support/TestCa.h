#pragma once
// Keys and certificates made at run time for the TLS tests, so that no key lives in the repository:
// a certificate authority and the server certificates it issues, or self-signed ones, written as
// PEM files into a directory the test owns. EC P-256 keys; valid from an hour ago for a day.
#include <memory>
#include <string>

namespace duz::test {

struct TCertificateFiles {
  std::string Cert;  // the certificate (PEM)
  std::string Key;   // its private key (PEM)
};

class TTestCa {
 public:
  // Writes the authority's certificate to <dir>/ca.pem.
  explicit TTestCa(const std::string& dir);
  ~TTestCa();
  const std::string& CertFile() const { return FFiles.Cert; }

  // A server certificate named name (files <dir>/<name>.pem and <name>-key.pem) for the subject
  // alternative names, e.g. "DNS:localhost,IP:127.0.0.1".
  TCertificateFiles Issue(const std::string& name, const std::string& altNames) const;
  // The same, signed by its own key.
  static TCertificateFiles SelfSigned(const std::string& dir, const std::string& name,
                                      const std::string& altNames);

 private:
  struct TAuthority;
  std::string FDir;
  TCertificateFiles FFiles;
  std::unique_ptr<TAuthority> FAuthority;
};

}  // namespace duz::test
