#include "net/OpenSslLibrary.h"

#include "base/SharedLibrary.h"

namespace duz {

const TOpenSslLibrary& TOpenSslLibrary::Load() {
  static const TOpenSslLibrary loaded = []() -> TOpenSslLibrary {
    // libcrypto comes with it as its dependency, and the look-ups find its functions too.
    const TSharedLibrary library("libssl.so.3");
    return {
        .BioNew = DUZ_LIBRARY_FUNCTION(library, BIO_new),
        .BioFree = DUZ_LIBRARY_FUNCTION(library, BIO_free),
        .BioCtrl = DUZ_LIBRARY_FUNCTION(library, BIO_ctrl),
        .BioIntCtrl = DUZ_LIBRARY_FUNCTION(library, BIO_int_ctrl),
        .BioSetFlags = DUZ_LIBRARY_FUNCTION(library, BIO_set_flags),
        .BioClearFlags = DUZ_LIBRARY_FUNCTION(library, BIO_clear_flags),
        .BioSSocket = DUZ_LIBRARY_FUNCTION(library, BIO_s_socket),
        .BioMethNew = DUZ_LIBRARY_FUNCTION(library, BIO_meth_new),
        .BioMethSetWrite = DUZ_LIBRARY_FUNCTION(library, BIO_meth_set_write),
        .BioMethGetRead = DUZ_LIBRARY_FUNCTION(library, BIO_meth_get_read),
        .BioMethSetRead = DUZ_LIBRARY_FUNCTION(library, BIO_meth_set_read),
        .BioMethGetPuts = DUZ_LIBRARY_FUNCTION(library, BIO_meth_get_puts),
        .BioMethSetPuts = DUZ_LIBRARY_FUNCTION(library, BIO_meth_set_puts),
        .BioMethGetCtrl = DUZ_LIBRARY_FUNCTION(library, BIO_meth_get_ctrl),
        .BioMethSetCtrl = DUZ_LIBRARY_FUNCTION(library, BIO_meth_set_ctrl),
        .BioMethGetCreate = DUZ_LIBRARY_FUNCTION(library, BIO_meth_get_create),
        .BioMethSetCreate = DUZ_LIBRARY_FUNCTION(library, BIO_meth_set_create),
        .BioMethGetDestroy = DUZ_LIBRARY_FUNCTION(library, BIO_meth_get_destroy),
        .BioMethSetDestroy = DUZ_LIBRARY_FUNCTION(library, BIO_meth_set_destroy),
        .ErrGetError = DUZ_LIBRARY_FUNCTION(library, ERR_get_error),
        .ErrPeekLastError = DUZ_LIBRARY_FUNCTION(library, ERR_peek_last_error),
        .ErrClearError = DUZ_LIBRARY_FUNCTION(library, ERR_clear_error),
        .ErrReasonErrorString = DUZ_LIBRARY_FUNCTION(library, ERR_reason_error_string),
        .TlsMethod = DUZ_LIBRARY_FUNCTION(library, TLS_method),
        .TlsClientMethod = DUZ_LIBRARY_FUNCTION(library, TLS_client_method),
        .SslCtxNew = DUZ_LIBRARY_FUNCTION(library, SSL_CTX_new),
        .SslCtxFree = DUZ_LIBRARY_FUNCTION(library, SSL_CTX_free),
        .SslCtxCtrl = DUZ_LIBRARY_FUNCTION(library, SSL_CTX_ctrl),
        .SslCtxSetVerify = DUZ_LIBRARY_FUNCTION(library, SSL_CTX_set_verify),
        .SslCtxSetDefaultVerifyPaths = DUZ_LIBRARY_FUNCTION(library, SSL_CTX_set_default_verify_paths),
        .SslCtxLoadVerifyLocations = DUZ_LIBRARY_FUNCTION(library, SSL_CTX_load_verify_locations),
        .SslCtxSetDefaultPasswdCb = DUZ_LIBRARY_FUNCTION(library, SSL_CTX_set_default_passwd_cb),
        .SslCtxUseCertificateChainFile = DUZ_LIBRARY_FUNCTION(library, SSL_CTX_use_certificate_chain_file),
        .SslCtxUsePrivateKeyFile = DUZ_LIBRARY_FUNCTION(library, SSL_CTX_use_PrivateKey_file),
        .SslNew = DUZ_LIBRARY_FUNCTION(library, SSL_new),
        .SslFree = DUZ_LIBRARY_FUNCTION(library, SSL_free),
        .SslCtrl = DUZ_LIBRARY_FUNCTION(library, SSL_ctrl),
        .SslSetBio = DUZ_LIBRARY_FUNCTION(library, SSL_set_bio),
        .SslGet0Param = DUZ_LIBRARY_FUNCTION(library, SSL_get0_param),
        .SslSet1Host = DUZ_LIBRARY_FUNCTION(library, SSL_set1_host),
        .SslIsInitFinished = DUZ_LIBRARY_FUNCTION(library, SSL_is_init_finished),
        .SslConnect = DUZ_LIBRARY_FUNCTION(library, SSL_connect),
        .SslReadEx = DUZ_LIBRARY_FUNCTION(library, SSL_read_ex),
        .SslWriteEx = DUZ_LIBRARY_FUNCTION(library, SSL_write_ex),
        .SslShutdown = DUZ_LIBRARY_FUNCTION(library, SSL_shutdown),
        .SslGetError = DUZ_LIBRARY_FUNCTION(library, SSL_get_error),
        .SslGetVerifyResult = DUZ_LIBRARY_FUNCTION(library, SSL_get_verify_result),
        .SslGetVersion = DUZ_LIBRARY_FUNCTION(library, SSL_get_version),
        .SslGetCurrentCipher = DUZ_LIBRARY_FUNCTION(library, SSL_get_current_cipher),
        .SslCipherGetName = DUZ_LIBRARY_FUNCTION(library, SSL_CIPHER_get_name),
        .X509VerifyParamSet1IpAsc = DUZ_LIBRARY_FUNCTION(library, X509_VERIFY_PARAM_set1_ip_asc),
        .X509VerifyCertErrorString = DUZ_LIBRARY_FUNCTION(library, X509_verify_cert_error_string),
        .EvpDecodeBlock = DUZ_LIBRARY_FUNCTION(library, EVP_DecodeBlock),
        .Sha256 = DUZ_LIBRARY_FUNCTION(library, SHA256),
        .CryptoMemcmp = DUZ_LIBRARY_FUNCTION(library, CRYPTO_memcmp),
    };
  }();
  return loaded;
}

}  // namespace duz
