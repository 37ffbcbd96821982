#pragma once
// The SQL Server Browser's answers ([MC-SQLR]) for the one named instance the sandbox plays, so that
// clients given host\instance find its TCP port. Loopback only.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace sandbox::tds {

struct BrowserInstance {
    std::string serverName = "SANDBOX";
    std::string instanceName;  // as the client types it after the backslash
    std::string version;       // "15.0.2000.5"
    uint16_t tcpPort = 0;
};

// The SVR_RESP for one request; empty when the request is not answered (not understood, or for
// another instance, which a real Browser leaves unanswered too).
std::vector<uint8_t> browserAnswer(const uint8_t* request, size_t n, const BrowserInstance& instance);

class Browser {
public:
    Browser() = default;
    ~Browser();  // stops
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    // Listens on 127.0.0.1:udpPort (clients ask on 1434) until stop().
    bool start(const BrowserInstance& instance, uint16_t udpPort, std::string* error);
    void stop();
    uint64_t answered() const { return answered_.load(); }

private:
    void loop();
    BrowserInstance instance_;
    int fd_ = -1;
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<uint64_t> answered_{0};
};

}  // namespace sandbox::tds
