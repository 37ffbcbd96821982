// The SQL Server Browser's answers for one instance, on UDP over loopback.
#include "sandbox/tds/Browser.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sandbox::tds {

namespace {

// Request and response types, [MC-SQLR] section 2.2.
constexpr uint8_t kClntBcastEx = 0x02;
constexpr uint8_t kClntUcastEx = 0x03;
constexpr uint8_t kClntUcastInst = 0x04;
constexpr uint8_t kSvrResp = 0x05;
constexpr size_t kMaxInstanceName = 32;  // CLNT_UCAST_INST: at most 32 bytes with its terminator

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string describe(const BrowserInstance& i) {
    return "ServerName;" + i.serverName + ";InstanceName;" + i.instanceName + ";IsClustered;No;Version;" +
           i.version + ";tcp;" + std::to_string(i.tcpPort) + ";;";
}

}  // namespace

// A CLNT_UCAST_INST is answered with that instance only, if this host has it; the *_EX requests
// with every instance ([MC-SQLR], "Waiting For Request From Client":
// https://learn.microsoft.com/en-us/openspecs/windows_protocols/mc-sqlr/4eea5b65-a848-4deb-99ca-280ebd4e3dc8).
std::vector<uint8_t> browserAnswer(const uint8_t* request, size_t n, const BrowserInstance& instance) {
    if (n == 0)
        return {};
    if (request[0] == kClntUcastInst) {
        const size_t len = std::min(n - 1, kMaxInstanceName);
        std::string asked(reinterpret_cast<const char*>(request + 1), len);
        asked = asked.substr(0, asked.find('\0'));
        if (!sameName(asked, instance.instanceName))
            return {};
    } else if (request[0] != kClntBcastEx && request[0] != kClntUcastEx) {
        return {};
    }
    const std::string data = describe(instance);
    std::vector<uint8_t> out(3 + data.size());
    out[0] = kSvrResp;
    out[1] = static_cast<uint8_t>(data.size() & 0xFF);  // RESP_SIZE, little-endian
    out[2] = static_cast<uint8_t>(data.size() >> 8);
    std::copy(data.begin(), data.end(), out.begin() + 3);
    return out;
}

Browser::~Browser() {
    stop();
}

bool Browser::start(const BrowserInstance& instance, uint16_t udpPort, std::string* error) {
    stop();
    instance_ = instance;
    auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + " (UDP " + std::to_string(udpPort) + "): " + std::strerror(errno);
        stop();
        return false;
    };
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return fail("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(udpPort);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0)
        return fail("cannot answer SQL Server Browser requests");
    if (::pipe2(wake_, O_CLOEXEC) < 0)
        return fail("pipe");
    thread_ = std::thread([this] { loop(); });
    return true;
}

void Browser::stop() {
    if (thread_.joinable()) {
        char b = 1;
        [[maybe_unused]] auto w = ::write(wake_[1], &b, 1);
        thread_.join();
    }
    for (int* fd : {&fd_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void Browser::loop() {
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        uint8_t buf[1024];
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t got = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (got <= 0)
            continue;
        const auto answer = browserAnswer(buf, static_cast<size_t>(got), instance_);
        if (answer.empty())
            continue;
        ::sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
        ++answered_;
    }
}

}  // namespace sandbox::tds
