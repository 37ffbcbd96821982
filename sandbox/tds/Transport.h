#pragma once
// The connection's byte stream: the one place that reads from and writes to the socket.

#include <cstddef>
#include <cstdint>

namespace sandbox::tds {

// Every byte a connection receives or sends passes through read() and write(), so a layer that
// transforms the stream (TLS) goes beneath them by deriving from this class, or by wrapping it,
// without the framing or the messages above noticing.
class Transport {
public:
    // fd: the accepted socket (not owned). wakeFd: readable when the server stops; a read
    // waiting for the client then gives up.
    Transport(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {}
    virtual ~Transport() = default;
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Exactly n bytes, or false when the peer closed, the socket failed or the server stops.
    virtual bool read(uint8_t* p, size_t n);
    // All n bytes, or false.
    virtual bool write(const uint8_t* p, size_t n);
    // Bytes from the client wait to be read: while a request runs, that is its cancel (Attention).
    virtual bool inputPending() const;

protected:
    // The plain socket, for a layer beneath read() and write() to use.
    bool readSocket(uint8_t* p, size_t n);
    bool writeSocket(const uint8_t* p, size_t n);
    int fd() const { return fd_; }

private:
    int fd_;
    int wakeFd_;
};

}  // namespace sandbox::tds
