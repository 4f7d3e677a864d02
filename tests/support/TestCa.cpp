#include "support/TestCa.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <stdexcept>

namespace duz::test {

namespace {

using TKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using TCert = std::unique_ptr<X509, decltype(&X509_free)>;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test CA: cannot make the ") + what);
}

TKey NewKey() {
  TKey key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  Check(key != nullptr, "key");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  const bool added = extension != nullptr && X509_add_ext(cert, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  Check(added, "certificate extension");
}

// Without an issuer the certificate signs itself.
TCert MakeCertificate(const std::string& commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                      bool authority, const std::string& altNames) {
  static std::atomic<long> serial{1};
  TCert cert(X509_new(), X509_free);
  Check(cert != nullptr, "certificate");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert.get(), issuer != nullptr ? X509_get_subject_name(issuer) : subject);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  AddExtension(cert.get(), signer, NID_basic_constraints, authority ? "critical,CA:TRUE" : "CA:FALSE");
  AddExtension(cert.get(), signer, NID_key_usage,
               authority ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
  AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  if (!altNames.empty()) AddExtension(cert.get(), signer, NID_subject_alt_name, altNames);
  Check(X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0, "signature");
  return cert;
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  std::unique_ptr<BIO, decltype(&BIO_free)> file(BIO_new_file(path.c_str(), "w"), BIO_free);
  Check(file != nullptr, "PEM file");
  const int written = cert != nullptr
                          ? PEM_write_bio_X509(file.get(), cert)
                          : PEM_write_bio_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
  Check(written == 1, "PEM file");
}

TCertificateFiles WriteFiles(const std::string& dir, const std::string& name, X509* cert, EVP_PKEY* key) {
  TCertificateFiles files{dir + "/" + name + ".pem", dir + "/" + name + "-key.pem"};
  WritePem(files.Cert, cert, nullptr);
  WritePem(files.Key, nullptr, key);
  return files;
}

}  // namespace

struct TTestCa::TAuthority {
  TKey Key = NewKey();
  TCert Cert = MakeCertificate("Duzezevovivo Test CA", Key.get(), nullptr, nullptr, true, "");
};

TTestCa::TTestCa(const std::string& dir) : FDir(dir), FAuthority(std::make_unique<TAuthority>()) {
  FFiles = WriteFiles(dir, "ca", FAuthority->Cert.get(), FAuthority->Key.get());
}

TTestCa::~TTestCa() = default;

TCertificateFiles TTestCa::Issue(const std::string& name, const std::string& altNames) const {
  const TKey key = NewKey();
  const TCert cert =
      MakeCertificate(name, key.get(), FAuthority->Cert.get(), FAuthority->Key.get(), false, altNames);
  return WriteFiles(FDir, name, cert.get(), key.get());
}

TCertificateFiles TTestCa::SelfSigned(const std::string& dir, const std::string& name,
                                      const std::string& altNames) {
  const TKey key = NewKey();
  const TCert cert = MakeCertificate(name, key.get(), nullptr, nullptr, false, altNames);
  return WriteFiles(dir, name, cert.get(), key.get());
}

}  // namespace duz::test
