// The listener: accepts connections on loopback and gives each its own thread and Connection.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <filesystem>

#include <cerrno>
#include <cstring>
#include <list>
#include <thread>

#include "sandbox/Sandbox.h"
#include "sandbox/tds/Connection.h"
#include "sandbox/tds/Release.h"
#include "sandbox/tds/ServerState.h"

namespace sandbox {

using tds::ServerState;

struct Server::Impl : ServerState {
    int listenFd = -1;
    int wake[2] = {-1, -1};  // a byte written here wakes every poll when stopping
    uint16_t boundPort = 0;
    std::thread acceptThread;
    std::atomic<bool> running{false};
    struct Conn {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> finished{false};
    };
    std::list<std::unique_ptr<Conn>> conns;

    explicit Impl(Options o) : ServerState(std::move(o)) {}

    bool prepareExtras(std::string* error);
    bool startBrowser(std::string* error);
    void acceptLoop();
    void reapFinished();
    void serve(Conn* c);
};

void Server::Impl::serve(Conn* c) {
    {
        tds::Connection conn(*this, std::make_unique<tds::Transport>(c->fd, wake[0]));
        conn.run();
    }
    ::shutdown(c->fd, SHUT_RDWR);
    c->finished = true;
}

void Server::Impl::reapFinished() {
    std::lock_guard lock(mu);
    for (auto it = conns.begin(); it != conns.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            ::close((*it)->fd);
            it = conns.erase(it);
        } else {
            ++it;
        }
    }
}

void Server::Impl::acceptLoop() {
    while (!stopping) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wake[0], POLLIN, 0}};
        int rc = ::poll(fds, 2, 1000);
        if (rc < 0 && errno != EINTR)
            break;
        if (fds[1].revents || stopping)
            break;
        reapFinished();
        if (!(fds[0].revents & POLLIN))
            continue;
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Conn>();
        c->fd = fd;
        Conn* raw = c.get();
        std::lock_guard lock(mu);
        conns.push_back(std::move(c));
        raw->thread = std::thread([this, raw] { serve(raw); });
    }
}

// With an instance name, SQL Server Browser requests for it are answered with the bound port.
bool Server::Impl::startBrowser(std::string* error) {
    if (options.instance.empty())
        return true;
    const tds::BrowserInstance instance{"SANDBOX", options.instance, engine.product().version, boundPort};
    std::string why;
    if (browser.start(instance, options.browserPort, &why))
        return true;
    if (error)
        *error = why;
    return false;
}

Server::Server(Options options) : d(std::make_unique<Impl>(std::move(options))) {
    std::filesystem::path dir = d->options.backupDir;
    if (dir.empty())
        dir = d->options.sqlitePath != ":memory:"
                  ? std::filesystem::absolute(d->options.sqlitePath).parent_path() / "backup"
                  : std::filesystem::temp_directory_path() / "acctset-sandbox-backup";
    std::error_code ignored;  // a directory that cannot be made fails the BACKUP, as on the server
    std::filesystem::create_directories(dir, ignored);
    d->engine.setBackupDirectory(dir.string());
    d->engine.setBackupSpeed(d->options.backupPagesPerSecond);
    d->engine.setProduct(tds::releaseFacts(d->options.release).product);
}

namespace {

tds::TlsRange tlsRangeOf(Encryption mode) {
    switch (mode) {
        case Encryption::Tls10Only:
            return tds::TlsRange::Tls10Only;
        case Encryption::Tls13Only:
            return tds::TlsRange::Tls13Only;
        default:
            return tds::TlsRange::Tls10To12;
    }
}

}  // namespace

// TLS and the Browser, which start() needs before it listens.
bool Server::Impl::prepareExtras(std::string* error) {
    if (options.encryption != Encryption::None && !tls) {
        tls = tds::TlsContext::create({tlsRangeOf(options.encryption), options.certFile, options.keyFile},
                                      error);
        if (!tls)
            return false;
    }
    return true;
}

Server::~Server() {
    stop();
}

bool Server::start(std::string* error) {
    if (d->running)
        return true;
    if (!d->prepareExtras(error))
        return false;
    auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        if (d->listenFd >= 0)
            ::close(d->listenFd);
        d->listenFd = -1;
        return false;
    };
    d->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (d->listenFd < 0)
        return fail("socket");
    int one = 1;
    ::setsockopt(d->listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(d->options.port);
    if (::bind(d->listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0)
        return fail("bind");
    if (::listen(d->listenFd, 64) < 0)
        return fail("listen");
    socklen_t len = sizeof addr;
    ::getsockname(d->listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    d->boundPort = ntohs(addr.sin_port);
    if (!d->startBrowser(error)) {
        ::close(d->listenFd);
        d->listenFd = -1;
        return false;
    }
    if (::pipe2(d->wake, O_CLOEXEC) < 0) {
        d->browser.stop();
        return fail("pipe");
    }
    d->stopping = false;
    d->running = true;
    d->acceptThread = std::thread([this] { d->acceptLoop(); });
    return true;
}

void Server::stop() {
    if (!d->running)
        return;
    {
        std::lock_guard lock(d->mu);
        d->stopping = true;
    }
    d->cv.notify_all();
    char b = 1;
    [[maybe_unused]] auto w = ::write(d->wake[1], &b, 1);
    d->acceptThread.join();
    d->browser.stop();
    {
        std::lock_guard lock(d->mu);
        for (auto& c : d->conns)
            ::shutdown(c->fd, SHUT_RDWR);
    }
    for (auto& c : d->conns) {
        c->thread.join();
        ::close(c->fd);
    }
    d->conns.clear();
    ::close(d->listenFd);
    ::close(d->wake[0]);
    ::close(d->wake[1]);
    d->listenFd = d->wake[0] = d->wake[1] = -1;
    d->running = false;
}

uint16_t Server::port() const {
    return d->boundPort;
}
std::string Server::serverName() const {
    if (!d->options.instance.empty())
        return "127.0.0.1\\" + d->options.instance;
    return "127.0.0.1," + std::to_string(d->boundPort);
}
Engine& Server::engine() {
    return d->engine;
}

void Server::dropConnectionAfter(int batches) {
    d->dropAfter = batches;
    ++d->dropGeneration;
}
void Server::setNeverAnswer(bool on) {
    d->neverAnswer = on;
}
void Server::setRoundTripDelay(std::chrono::milliseconds delay) {
    d->delayMs = delay.count();
}
uint64_t Server::roundTrips() const {
    return d->roundTrips.load();
}

std::vector<ConnectionRecord> Server::connections() const {
    std::lock_guard lock(d->recordsMu);
    std::vector<ConnectionRecord> out;
    for (const auto& [id, r] : d->records)
        out.push_back(r);
    return out;
}

uint64_t Server::browserAnswers() const {
    return d->browser.answered();
}

}  // namespace sandbox
