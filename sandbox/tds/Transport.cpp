// The connection's byte stream over a socket, woken when the server stops.
#include "sandbox/tds/Transport.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace sandbox::tds {

bool Transport::read(uint8_t* p, size_t n) {
    return readSocket(p, n);
}

bool Transport::write(const uint8_t* p, size_t n) {
    return writeSocket(p, n);
}

bool Transport::inputPending() const {
    pollfd fds[1] = {{fd_, POLLIN, 0}};
    return ::poll(fds, 1, 0) > 0 && (fds[0].revents & POLLIN);
}

bool Transport::readSocket(uint8_t* p, size_t n) {
    while (n) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        int rc = ::poll(fds, 2, -1);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (fds[1].revents)
            return false;
        ssize_t got = ::recv(fd_, p, n, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool Transport::writeSocket(const uint8_t* p, size_t n) {
    while (n) {
        ssize_t sent = ::send(fd_, p, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        p += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

}  // namespace sandbox::tds
