#pragma once
// The connection's byte stream with TLS beneath the framing, as TDS 7.x places it: the handshake
// travels inside PRELOGIN packets on the plain stream; afterwards every byte, both ways, is TLS
// records straight on the socket, until the server stops encrypting after the login.

#include <memory>
#include <string>
#include <vector>

#include "sandbox/tds/Tls.h"
#include "sandbox/tds/Transport.h"

namespace sandbox::tds {

class TlsTransport : public Transport {
public:
    // plain: the stream so far (the PRELOGIN exchange went over it); its bytes carry the records.
    TlsTransport(std::unique_ptr<Transport> plain, const TlsContext& context);

    // Answers the client's handshake until it completes. False when it fails, or when the client
    // sends anything but PRELOGIN packets before it completes (what a TLS 1.3 client does: it
    // finishes outside them); then the connection is to be closed.
    bool handshake();
    // Login only: the message just read (LOGIN7) was the last one inside TLS, both ways.
    void stopEncrypting() { encrypting_ = false; }
    bool encrypting() const { return encrypting_; }
    std::string version() const { return session_.version(); }
    std::string error() const { return error_; }

    bool read(uint8_t* p, size_t n) override;
    bool write(const uint8_t* p, size_t n) override;
    bool readable() override { return clearAt_ < clear_.size() || plain_->readable(); }
    void shutdown() override { plain_->shutdown(); }

private:
    bool readHandshakePacket(std::vector<uint8_t>* payload, bool* last);
    bool readRecord();

    std::unique_ptr<Transport> plain_;
    TlsSession session_;
    bool encrypting_ = false;
    std::vector<uint8_t> clear_;  // decrypted bytes not yet read
    size_t clearAt_ = 0;
    std::string error_;
};

}  // namespace sandbox::tds
