// TLS over OpenSSL memory buffers: the server context, its certificate, one session per connection.
#include "sandbox/tds/Tls.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <mutex>

namespace sandbox::tds {

namespace {

std::string lastOpensslError(const char* what) {
    std::string text = what;
    for (unsigned long e = ERR_get_error(); e; e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        text += std::string(text.empty() ? "" : ": ") + buf;
    }
    return text;
}

// A server without a certificate of its own makes a self-signed one at start, as SQL Server does;
// an RSA key takes a noticeable time to make, so one serves every server of this process.
struct SelfSigned {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
};

const SelfSigned& selfSigned() {
    static SelfSigned made;
    static std::once_flag once;
    std::call_once(once, [] {
        EVP_PKEY* key = EVP_RSA_gen(2048);
        X509* cert = key ? X509_new() : nullptr;
        if (!cert)
            return;
        uint64_t serial = 0;
        RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial);
        X509_set_version(cert, 2);
        ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert), serial >> 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3650L * 24 * 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("SANDBOX"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        if (X509_sign(cert, key, EVP_sha256()) <= 0) {
            X509_free(cert);
            EVP_PKEY_free(key);
            return;
        }
        made = {key, cert};
    });
    return made;
}

bool useCertificate(SSL_CTX* ctx, const TlsSetup& setup, std::string* error) {
    if (setup.certFile.empty() && setup.keyFile.empty()) {
        const SelfSigned& s = selfSigned();
        if (!s.cert || SSL_CTX_use_certificate(ctx, s.cert) != 1 || SSL_CTX_use_PrivateKey(ctx, s.key) != 1) {
            *error = lastOpensslError("cannot make a self-signed certificate");
            return false;
        }
        return true;
    }
    if (setup.certFile.empty() || setup.keyFile.empty()) {
        *error = "a certificate needs both --cert and --key";
        return false;
    }
    if (SSL_CTX_use_certificate_chain_file(ctx, setup.certFile.c_str()) != 1) {
        *error = lastOpensslError(("cannot load the certificate " + setup.certFile).c_str());
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, setup.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1) {
        *error = lastOpensslError(("cannot load the key " + setup.keyFile).c_str());
        return false;
    }
    return true;
}

void setVersions(SSL_CTX* ctx, TlsRange range) {
    switch (range) {
        case TlsRange::Tls10To12:
            SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION);
            SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
            break;
        case TlsRange::Tls10Only:
            SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION);
            SSL_CTX_set_max_proto_version(ctx, TLS1_VERSION);
            break;
        case TlsRange::Tls13Only:
            SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
            SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
            return;
    }
    // OpenSSL 3 refuses TLS 1.0 and 1.1 above security level 0; the servers imitated here accept
    // them, and a client that offers 1.2 still gets 1.2.
    SSL_CTX_set_security_level(ctx, 0);
}

}  // namespace

struct TlsContext::Impl {
    SSL_CTX* ctx = nullptr;
    ~Impl() { SSL_CTX_free(ctx); }
};

TlsContext::~TlsContext() = default;

std::unique_ptr<TlsContext> TlsContext::create(const TlsSetup& setup, std::string* error) {
    std::unique_ptr<TlsContext> c(new TlsContext);
    c->d = std::make_unique<Impl>();
    c->d->ctx = SSL_CTX_new(TLS_server_method());
    std::string why;
    if (!c->d->ctx) {
        why = lastOpensslError("cannot set up TLS");
    } else if (useCertificate(c->d->ctx, setup, &why)) {
        setVersions(c->d->ctx, setup.range);
        SSL_CTX_set_options(c->d->ctx, SSL_OP_NO_TICKET);
        return c;
    }
    if (error)
        *error = why;
    return nullptr;
}

struct TlsSession::Impl {
    SSL* ssl = nullptr;
    BIO* in = nullptr;   // what the client sent, for OpenSSL to read
    BIO* out = nullptr;  // what OpenSSL wrote, for the client
    std::string error;
    ~Impl() { SSL_free(ssl); }  // frees both buffers
};

TlsSession::TlsSession(const TlsContext& context) : d(std::make_unique<Impl>()) {
    d->ssl = SSL_new(context.d->ctx);
    d->in = BIO_new(BIO_s_mem());
    d->out = BIO_new(BIO_s_mem());
    SSL_set_bio(d->ssl, d->in, d->out);
    SSL_set_accept_state(d->ssl);
}

TlsSession::~TlsSession() = default;

void TlsSession::drainOutput(std::vector<uint8_t>* out) {
    char* p = nullptr;
    const long n = BIO_get_mem_data(d->out, &p);
    if (n > 0)
        out->insert(out->end(), p, p + n);
    (void)BIO_reset(d->out);
}

TlsSession::Step TlsSession::handshake(const uint8_t* in, size_t n, std::vector<uint8_t>* out) {
    if (n && BIO_write(d->in, in, static_cast<int>(n)) != static_cast<int>(n)) {
        d->error = "cannot buffer the handshake";
        return Step::Failed;
    }
    ERR_clear_error();
    const int rc = SSL_do_handshake(d->ssl);
    drainOutput(out);
    if (rc == 1)
        return Step::Done;
    if (SSL_get_error(d->ssl, rc) == SSL_ERROR_WANT_READ)
        return Step::More;
    d->error = lastOpensslError("handshake failed");
    return Step::Failed;
}

bool TlsSession::established() const {
    return SSL_is_init_finished(d->ssl) == 1;
}

bool TlsSession::decrypt(const uint8_t* in, size_t n, std::vector<uint8_t>* plain) {
    if (n && BIO_write(d->in, in, static_cast<int>(n)) != static_cast<int>(n))
        return false;
    for (;;) {
        uint8_t buf[16384];
        ERR_clear_error();
        const int got = SSL_read(d->ssl, buf, sizeof buf);
        if (got > 0) {
            plain->insert(plain->end(), buf, buf + got);
            continue;
        }
        const int e = SSL_get_error(d->ssl, got);
        if (e == SSL_ERROR_WANT_READ)
            return true;
        d->error = e == SSL_ERROR_ZERO_RETURN ? "the client closed TLS" : lastOpensslError("bad record");
        return false;
    }
}

bool TlsSession::encrypt(const uint8_t* in, size_t n, std::vector<uint8_t>* out) {
    while (n) {
        const int chunk = static_cast<int>(std::min<size_t>(n, 16384));
        ERR_clear_error();
        const int put = SSL_write(d->ssl, in, chunk);
        if (put <= 0) {
            d->error = lastOpensslError("cannot encrypt");
            return false;
        }
        in += put;
        n -= static_cast<size_t>(put);
        drainOutput(out);
    }
    return true;
}

std::string TlsSession::version() const {
    return established() ? SSL_get_version(d->ssl) : std::string();
}

std::string TlsSession::error() const {
    return d->error;
}

}  // namespace sandbox::tds
