#pragma once
// TOpenSslLibrary: the functions of OpenSSL that mail over TLS, the key pair check, the login of a
// server and the TLS set-up of HTTP requests and of the metrics server use, resolved when the first
// of them needs them, so that a process that uses none maps neither libssl nor libcrypto. Typed from
// OpenSSL's own headers; where those offer a macro, the function it stands for is here. Any thread
// may call Load; the library stays loaded for the rest of the process.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace duz {

struct TOpenSslLibrary {
  decltype(&BIO_new) BioNew;
  decltype(&BIO_free) BioFree;
  decltype(&BIO_ctrl) BioCtrl;
  decltype(&BIO_int_ctrl) BioIntCtrl;
  decltype(&BIO_set_flags) BioSetFlags;
  decltype(&BIO_clear_flags) BioClearFlags;
  decltype(&BIO_s_socket) BioSSocket;
  decltype(&BIO_meth_new) BioMethNew;
  decltype(&BIO_meth_set_write) BioMethSetWrite;
  decltype(&BIO_meth_get_read) BioMethGetRead;
  decltype(&BIO_meth_set_read) BioMethSetRead;
  decltype(&BIO_meth_get_puts) BioMethGetPuts;
  decltype(&BIO_meth_set_puts) BioMethSetPuts;
  decltype(&BIO_meth_get_ctrl) BioMethGetCtrl;
  decltype(&BIO_meth_set_ctrl) BioMethSetCtrl;
  decltype(&BIO_meth_get_create) BioMethGetCreate;
  decltype(&BIO_meth_set_create) BioMethSetCreate;
  decltype(&BIO_meth_get_destroy) BioMethGetDestroy;
  decltype(&BIO_meth_set_destroy) BioMethSetDestroy;
  decltype(&ERR_get_error) ErrGetError;
  decltype(&ERR_peek_last_error) ErrPeekLastError;
  decltype(&ERR_clear_error) ErrClearError;
  decltype(&ERR_reason_error_string) ErrReasonErrorString;
  decltype(&TLS_method) TlsMethod;
  decltype(&TLS_client_method) TlsClientMethod;
  decltype(&SSL_CTX_new) SslCtxNew;
  decltype(&SSL_CTX_free) SslCtxFree;
  decltype(&SSL_CTX_ctrl) SslCtxCtrl;
  decltype(&SSL_CTX_set_verify) SslCtxSetVerify;
  decltype(&SSL_CTX_set_default_verify_paths) SslCtxSetDefaultVerifyPaths;
  decltype(&SSL_CTX_load_verify_locations) SslCtxLoadVerifyLocations;
  decltype(&SSL_CTX_set_default_passwd_cb) SslCtxSetDefaultPasswdCb;
  decltype(&SSL_CTX_use_certificate_chain_file) SslCtxUseCertificateChainFile;
  decltype(&SSL_CTX_use_PrivateKey_file) SslCtxUsePrivateKeyFile;
  decltype(&SSL_new) SslNew;
  decltype(&SSL_free) SslFree;
  decltype(&SSL_ctrl) SslCtrl;
  decltype(&SSL_set_bio) SslSetBio;
  decltype(&SSL_get0_param) SslGet0Param;
  decltype(&SSL_set1_host) SslSet1Host;
  decltype(&SSL_is_init_finished) SslIsInitFinished;
  decltype(&SSL_connect) SslConnect;
  decltype(&SSL_read_ex) SslReadEx;
  decltype(&SSL_write_ex) SslWriteEx;
  decltype(&SSL_shutdown) SslShutdown;
  decltype(&SSL_get_error) SslGetError;
  decltype(&SSL_get_verify_result) SslGetVerifyResult;
  decltype(&SSL_get_version) SslGetVersion;
  decltype(&SSL_get_current_cipher) SslGetCurrentCipher;
  decltype(&SSL_CIPHER_get_name) SslCipherGetName;
  decltype(&X509_VERIFY_PARAM_set1_ip_asc) X509VerifyParamSet1IpAsc;
  decltype(&X509_verify_cert_error_string) X509VerifyCertErrorString;
  decltype(&EVP_DecodeBlock) EvpDecodeBlock;
  decltype(&SHA256) Sha256;
  decltype(&CRYPTO_memcmp) CryptoMemcmp;

  // The library. Raises Exception with dlerror()'s reason when it cannot be loaded (not installed,
  // too old), and then the next call tries again.
  static const TOpenSslLibrary& Load();
};

}  // namespace duz
