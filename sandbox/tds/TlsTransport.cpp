// The connection's stream with TLS beneath the framing: the handshake in PRELOGIN packets, then records.
#include "sandbox/tds/TlsTransport.h"

#include <algorithm>
#include <cstdio>

#include "sandbox/tds/Packet.h"

namespace sandbox::tds {

namespace {

// The handshake answers go out in packets of the size every client accepts before the login.
constexpr size_t kHandshakePacketSize = 4096;
constexpr size_t kMaxTlsRecord = 16384 + 2048;  // the largest ciphertext record TLS allows

}  // namespace

// The plain stream carries the socket; this object's own base is not used.
TlsTransport::TlsTransport(std::unique_ptr<Transport> plain, const TlsContext& context)
    : Transport(-1, -1), plain_(std::move(plain)), session_(context) {}

bool TlsTransport::readHandshakePacket(std::vector<uint8_t>* payload, bool* last) {
    uint8_t h[kHeaderSize];
    if (!plain_->read(h, kHeaderSize)) {
        error_ = "the client left during the handshake";
        return false;
    }
    // Checked before reading on: a TLS record taken for a header would name a length the client
    // never sends, and both sides would wait.
    if (h[0] != kPrelogin) {
        char what[96];
        std::snprintf(what, sizeof what, "packet type 0x%02X before the handshake completed", h[0]);
        error_ = what;
        return false;
    }
    const size_t len = (size_t(h[2]) << 8) | h[3];
    if (len < kHeaderSize) {
        error_ = "a handshake packet shorter than its header";
        return false;
    }
    payload->resize(len - kHeaderSize);
    *last = (h[1] & kStatusEom) != 0;
    if (!payload->empty() && !plain_->read(payload->data(), payload->size())) {
        error_ = "the client left during the handshake";
        return false;
    }
    return true;
}

bool TlsTransport::handshake() {
    std::vector<uint8_t> payload;
    for (;;) {
        bool last = false;
        if (!readHandshakePacket(&payload, &last))
            return false;
        std::vector<uint8_t> answer;
        const TlsSession::Step step = session_.handshake(payload.data(), payload.size(), &answer);
        if (!answer.empty()) {
            const auto bytes = framePackets(kPrelogin, answer, kHandshakePacketSize, 0);
            if (!plain_->write(bytes.data(), bytes.size())) {
                error_ = "the client left during the handshake";
                return false;
            }
        }
        if (step == TlsSession::Step::Failed) {
            error_ = session_.error();
            return false;
        }
        if (step == TlsSession::Step::Done) {
            encrypting_ = true;
            return true;
        }
    }
}

bool TlsTransport::readRecord() {
    uint8_t record[kTlsRecordHeader + kMaxTlsRecord];
    if (!plain_->read(record, kTlsRecordHeader))
        return false;
    const size_t len = tlsRecordLength(record);
    if (len > kMaxTlsRecord)
        return false;
    if (!plain_->read(record + kTlsRecordHeader, len))
        return false;
    if (clearAt_ == clear_.size()) {
        clear_.clear();
        clearAt_ = 0;
    }
    return session_.decrypt(record, kTlsRecordHeader + len, &clear_);
}

bool TlsTransport::read(uint8_t* p, size_t n) {
    while (n) {
        if (clearAt_ < clear_.size()) {
            const size_t take = std::min(n, clear_.size() - clearAt_);
            std::copy_n(clear_.begin() + static_cast<std::ptrdiff_t>(clearAt_), take, p);
            clearAt_ += take;
            p += take;
            n -= take;
            continue;
        }
        if (!encrypting_)
            return plain_->read(p, n);
        if (!readRecord())
            return false;
    }
    return true;
}

bool TlsTransport::write(const uint8_t* p, size_t n) {
    if (!encrypting_)
        return plain_->write(p, n);
    std::vector<uint8_t> records;
    return session_.encrypt(p, n, &records) && plain_->write(records.data(), records.size());
}

}  // namespace sandbox::tds
