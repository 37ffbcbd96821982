#pragma once
// TLS as TDS 7.x carries it, over OpenSSL memory buffers: the handshake travels inside PRELOGIN
// packets, later records go straight onto the socket. This file knows nothing of packets or
// sockets; it turns bytes in into bytes out.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sandbox::tds {

// The TLS versions the server accepts, lowest and highest.
enum class TlsRange {
    Tls10To12,  // what SQL Server 2008 R2 (with its TLS 1.2 update) to 2019 accept by default
    Tls10Only,  // SQL Server 2008 R2 before that update
    Tls13Only,  // a TLS stack that speaks only 1.3, which TDS 7.x cannot carry
};

struct TlsSetup {
    TlsRange range = TlsRange::Tls10To12;
    std::string certFile;  // PEM; both empty: a self-signed certificate made once per process
    std::string keyFile;
};

// The server's certificate, key and accepted versions, shared by every connection.
class TlsContext {
public:
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;
    // Null, with the reason in *error, when the certificate or key cannot be loaded.
    static std::unique_ptr<TlsContext> create(const TlsSetup& setup, std::string* error);

private:
    TlsContext() = default;
    friend class TlsSession;
    struct Impl;
    std::unique_ptr<Impl> d;
};

// One connection's TLS state.
class TlsSession {
public:
    explicit TlsSession(const TlsContext& context);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    enum class Step { More, Done, Failed };
    // Feeds handshake bytes from the client; appends what to answer to *out (possibly nothing).
    // After Failed, *out may still hold an alert worth sending.
    Step handshake(const uint8_t* in, size_t n, std::vector<uint8_t>* out);
    bool established() const;

    // After the handshake: records in, plain bytes appended to *plain. False on a bad record or
    // the client's close.
    bool decrypt(const uint8_t* in, size_t n, std::vector<uint8_t>* plain);
    // Plain bytes in, records appended to *out.
    bool encrypt(const uint8_t* in, size_t n, std::vector<uint8_t>* out);

    std::string version() const;  // "TLSv1.2"; empty before the handshake
    std::string error() const;    // OpenSSL's words for the last failure

private:
    void drainOutput(std::vector<uint8_t>* out);
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A TLS record's header: content type, version, length of what follows.
constexpr size_t kTlsRecordHeader = 5;
inline size_t tlsRecordLength(const uint8_t* header) {
    return (size_t(header[3]) << 8) | header[4];
}

}  // namespace sandbox::tds
