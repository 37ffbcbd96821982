#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <regex>
#include <thread>

#include "Sandbox.h"
#include "tdsTokens.h"
#include "tdsWire.h"

namespace sandbox {

using namespace tds;

namespace {

const char* const kRpcNames[] = {"",
                                 "sp_cursor",
                                 "sp_cursoropen",
                                 "sp_cursorprepare",
                                 "sp_cursorexecute",
                                 "sp_cursorprepexec",
                                 "sp_cursorunprepare",
                                 "sp_cursorfetch",
                                 "sp_cursoroption",
                                 "sp_cursorclose",
                                 "sp_executesql",
                                 "sp_prepare",
                                 "sp_execute",
                                 "sp_prepexec",
                                 "sp_prepexecrpc",
                                 "sp_unprepare"};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

Message loginFailed(const std::string& user) {
    return {18456, 1, 14, "Login failed for user '" + user + "'.", 1};
}

// One parameter of an RPC request; only what sp_cursoropen's answer needs is kept.
struct RpcParam {
    std::string name;
    bool output = false;
    bool isInt = false;
    bool null = true;
    int64_t i = 0;
    std::string text;
};

// Reads one parameter value of the types clients send to the cursor procedures. Anything else
// throws, and the request is refused.
RpcParam readParam(Reader& r) {
    RpcParam p;
    p.name = r.bVarchar();
    p.output = (r.u8() & 0x01) != 0;
    uint8_t type = r.u8();
    auto readInt = [&](size_t n) {
        auto b = r.take(n);
        uint64_t u = 0;
        for (size_t k = 0; k < n; ++k)
            u |= uint64_t(b[k]) << (8 * k);
        if (n < 8 && (u >> (8 * n - 1)) & 1)
            u |= ~uint64_t(0) << (8 * n);
        p.isInt = true;
        p.null = false;
        p.i = static_cast<int64_t>(u);
    };
    switch (type) {
        case 0x30:  // INT1
            readInt(1);
            p.i &= 0xFF;
            break;
        case 0x34:  // INT2
            readInt(2);
            break;
        case 0x38:  // INT4
            readInt(4);
            break;
        case 0x7F:  // INT8
            readInt(8);
            break;
        case 0x26: {  // INTN
            r.u8();
            uint8_t len = r.u8();
            p.isInt = true;
            if (len)
                readInt(len);
            break;
        }
        case 0xE7:    // NVARCHAR
        case 0xEF:    // NCHAR
        case 0xA7:    // BIGVARCHAR
        case 0xAF: {  // BIGCHAR
            const bool wide = type == 0xE7 || type == 0xEF;
            uint16_t max = r.u16();
            r.skip(5);  // collation
            std::string raw;
            if (max == 0xFFFF) {  // PLP
                uint64_t total = r.u64();
                if (total == ~uint64_t(0))
                    break;
                for (;;) {
                    uint32_t chunk = r.u32();
                    if (!chunk)
                        break;
                    auto b = r.take(chunk);
                    raw.append(reinterpret_cast<const char*>(b), chunk);
                }
            } else {
                uint16_t len = r.u16();
                if (len == 0xFFFF)
                    break;
                auto b = r.take(len);
                raw.assign(reinterpret_cast<const char*>(b), len);
            }
            p.null = false;
            if (wide) {
                Reader t(reinterpret_cast<const uint8_t*>(raw.data()), raw.size() & ~size_t(1));
                p.text = utf16ToUtf8(t.utf16(raw.size() / 2));
            } else {
                p.text = raw;
            }
            break;
        }
        case 0x63:    // NTEXT
        case 0x23: {  // TEXT
            r.u32();
            r.skip(5);
            uint32_t len = r.u32();
            if (len == 0xFFFFFFFF)
                break;
            auto b = r.take(len);
            p.null = false;
            if (type == 0x63) {
                Reader t(b, len & ~uint32_t(1));
                p.text = utf16ToUtf8(t.utf16(len / 2));
            } else {
                p.text.assign(reinterpret_cast<const char*>(b), len);
            }
            break;
        }
        default:
            throw ProtocolError("parameter type not supported");
    }
    return p;
}

}  // namespace

// What the listener and every connection share.
struct ServerState {
    Options options;
    Engine engine;
    std::atomic<bool> stopping{false};
    std::mutex mu;  // connections; also wakes delayed replies when stopping
    std::condition_variable cv;
    std::atomic<int> dropAfter{-1};
    std::atomic<uint64_t> dropGeneration{0};
    std::atomic<bool> neverAnswer{false};
    std::atomic<int64_t> delayMs{0};
    std::atomic<uint64_t> roundTrips{0};

    explicit ServerState(Options o) : options(std::move(o)), engine(options.sqlitePath) {}
};

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

    void acceptLoop();
    void reapFinished();
    void serve(Conn* c);
};

namespace {

// One client connection: reads requests, answers them in order.
class Connection {
public:
    Connection(ServerState& srv, int fd, int wakeFd) : srv_(srv), fd_(fd), wakeFd_(wakeFd) {}
    ~Connection() {
        if (session_)
            srv_.engine.closeSession(*session_);
    }
    void run();

private:
    bool readMessage(uint8_t* type, std::vector<uint8_t>* payload);
    bool readExact(uint8_t* p, size_t n);
    bool send(uint8_t type, const std::vector<uint8_t>& payload);
    bool handleLogin(const std::vector<uint8_t>& payload);
    bool handleBatch(const std::vector<uint8_t>& payload);
    bool handleRpc(const std::vector<uint8_t>& payload);
    bool handleTransaction(const std::vector<uint8_t>& payload);
    void skipAllHeaders(Reader& r);
    bool shouldDrop();
    BatchResult run(const std::string& sql);

    ServerState& srv_;
    int fd_;
    int wakeFd_;
    Dialect dialect_;
    size_t packetSize_ = 4096;
    std::unique_ptr<Session> session_;
    uint16_t spid() const { return session_ ? static_cast<uint16_t>(session_->spid) : 0; }
    int batches_ = 0;
    uint64_t dropGeneration_ = 0;
};

bool Connection::readExact(uint8_t* p, size_t n) {
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

// A message may span several packets; the last carries the end-of-message status bit.
bool Connection::readMessage(uint8_t* type, std::vector<uint8_t>* payload) {
    payload->clear();
    for (;;) {
        uint8_t h[kHeaderSize];
        if (!readExact(h, kHeaderSize))
            return false;
        size_t len = (size_t(h[2]) << 8) | h[3];
        if (len < kHeaderSize)
            return false;
        *type = h[0];
        size_t at = payload->size();
        payload->resize(at + len - kHeaderSize);
        if (len > kHeaderSize && !readExact(payload->data() + at, len - kHeaderSize))
            return false;
        if (payload->size() > 64u * 1024 * 1024)
            return false;
        if (h[1] & kStatusEom)
            return true;
    }
}

bool Connection::send(uint8_t type, const std::vector<uint8_t>& payload) {
    if (auto ms = srv_.delayMs.load(); ms > 0) {
        std::unique_lock lock(srv_.mu);
        srv_.cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return srv_.stopping.load(); });
    }
    if (srv_.stopping)
        return false;
    // Counted before the reply leaves, so a client that has its answer always sees the count.
    ++srv_.roundTrips;
    auto bytes = framePackets(type, payload, packetSize_, spid());
    const uint8_t* p = bytes.data();
    size_t n = bytes.size();
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

void Connection::skipAllHeaders(Reader& r) {
    if (!dialect_.longCounts())
        return;
    uint32_t total = r.u32();
    if (total < 4)
        throw ProtocolError("bad ALL_HEADERS");
    r.skip(total - 4);
}

BatchResult Connection::run(const std::string& sql) {
    return srv_.engine.execBatch(*session_, sql);
}

bool Connection::shouldDrop() {
    int limit = srv_.dropAfter.load();
    uint64_t gen = srv_.dropGeneration.load();
    if (gen != dropGeneration_) {
        dropGeneration_ = gen;
        batches_ = 0;
    }
    if (limit < 0)
        return false;
    return batches_++ >= limit;
}

bool Connection::handleLogin(const std::vector<uint8_t>& payload) {
    Login l = parseLogin7(payload);
    dialect_ = Dialect::fromLogin(l.tdsVersion);
    TokenWriter t(dialect_);
    std::string database = l.database.empty() ? "master" : l.database;
    bool ok = lower(l.user) == "sa" && l.password == srv_.options.password;
    if (ok && !srv_.engine.databaseExists(database)) {
        t.message({4060, 1, 11,
                   "Cannot open database \"" + database + "\" requested by the login. The login failed.", 1});
        ok = false;
    }
    if (!ok) {
        t.message(loginFailed(l.user));
        t.done(kDone, kDoneError, 0, 0);
        send(kTabularResult, t.data());
        return false;
    }
    session_ = srv_.engine.openSession(database);  // login, host and program as sysprocesses lists them
    session_->login = l.user;
    session_->host = l.host;
    session_->program = l.app;
    if (l.packetSize >= 512 && l.packetSize <= 32767) {
        packetSize_ = l.packetSize;
    }
    const std::string db = session_->database;
    t.envChange(kEnvDatabase, db, "master");
    t.message({5701, 2, 0, "Changed database context to '" + db + "'.", 1});
    t.envChangeBytes(kEnvCollation, std::vector<uint8_t>(kCollation, kCollation + 5), {});
    t.envChange(kEnvLanguage, "us_english", "");
    t.message({5703, 1, 0, "Changed language setting to us_english.", 1});
    t.loginAck();
    if (l.utf8Feature)
        t.featureExtAckUtf8();
    t.envChange(kEnvPacketSize, std::to_string(packetSize_), std::to_string(packetSize_));
    t.done(kDone, kDoneFinal, 0, 0);
    // The reply goes out in 4096-byte packets: the new size applies from the next message.
    size_t negotiated = packetSize_;
    packetSize_ = 4096;
    bool sent = send(kTabularResult, t.data());
    packetSize_ = negotiated;
    return sent;
}

bool Connection::handleBatch(const std::vector<uint8_t>& payload) {
    if (shouldDrop())
        return false;
    Reader r(payload);
    skipAllHeaders(r);
    if (r.remaining() % 2)
        throw ProtocolError("odd batch length");
    std::string sql = utf16ToUtf8(r.utf16(r.remaining() / 2));
    uint64_t tran = session_->tranDescriptor;
    std::string dbBefore = session_->database;
    BatchResult result = run(sql);
    TokenWriter t(dialect_);
    t.batch(result, tran, dbBefore);
    return send(kTabularResult, t.data());
}

// Clients open a server cursor on connect just to set an option; that needs no cursor, and SQL
// Server answers it by running the statement directly. Real cursors are not offered: forward-only
// statements are plain batches.
bool Connection::handleRpc(const std::vector<uint8_t>& payload) {
    Reader r(payload);
    skipAllHeaders(r);
    uint16_t nameLen = r.u16();
    std::string name;
    if (nameLen == 0xFFFF) {
        uint16_t id = r.u16();
        name = id < std::size(kRpcNames) ? kRpcNames[id] : std::to_string(id);
    } else {
        name = utf16ToUtf8(r.utf16(nameLen));
    }
    r.u16();  // option flags
    TokenWriter t(dialect_);
    std::vector<RpcParam> params;
    bool parsed = true;
    try {
        // Several calls may follow, after a separator byte; only the first is answered.
        while (r.remaining() && payload[r.pos()] != 0x80 && payload[r.pos()] != 0xFF) {
            params.push_back(readParam(r));
        }
    } catch (const ProtocolError&) {
        parsed = false;
    }
    static const std::regex setOption(R"(^\s*set\s+[a-z_]+(\s*,\s*[a-z_]+)*\s+(on|off)\s*;?\s*$)",
                                      std::regex::icase);
    if (lower(name) == "sp_cursoropen" && parsed && params.size() >= 2 && !params[1].null &&
        std::regex_match(params[1].text, setOption)) {
        t.message({16954, 1, 10, "Executing SQL directly; no cursor.", 1}, name);
        t.returnStatus(0);
        for (size_t i = 0; i < params.size(); ++i) {
            if (!params[i].output)
                continue;
            int32_t v = i == 0 ? 0 : static_cast<int32_t>(params[i].null ? 0 : params[i].i);
            if (i == 4)
                v = 0;  // no rows
            t.returnValueInt(static_cast<uint16_t>(i), params[i].name, v);
        }
        t.done(kDoneProc, kDoneFinal, 0, 0);
        return send(kTabularResult, t.data());
    }
    t.message({2812, 62, 16, "Could not find stored procedure '" + name + "'.", 1});
    t.done(kDoneProc, kDoneError, 0, 0);
    return send(kTabularResult, t.data());
}

bool Connection::handleTransaction(const std::vector<uint8_t>& payload) {
    Reader r(payload);
    skipAllHeaders(r);
    uint16_t request = r.u16();
    std::vector<std::string> statements;
    auto andBegin = [&] {
        r.bVarchar();  // transaction name
        if (r.remaining() && (r.u8() & 0x01))
            statements.push_back("BEGIN TRANSACTION");
    };
    switch (request) {
        case 5:  // begin
            statements.push_back("BEGIN TRANSACTION");
            break;
        case 7:  // commit
            statements.push_back("COMMIT TRANSACTION");
            andBegin();
            break;
        case 8:  // rollback
            statements.push_back("ROLLBACK TRANSACTION");
            andBegin();
            break;
        default: {
            TokenWriter t(dialect_);
            t.message({8509, 1, 16, "The transaction manager request is not supported.", 1});
            t.done(kDone, kDoneError, 0, 0);
            return send(kTabularResult, t.data());
        }
    }
    BatchResult all;
    uint64_t tran = session_->tranDescriptor;
    std::string dbBefore = session_->database;
    for (const auto& s : statements) {
        BatchResult part = run(s);
        for (auto& p : part.pieces) {
            p.rowCount = -1;
            all.pieces.push_back(std::move(p));
        }
    }
    TokenWriter t(dialect_);
    t.batch(all, tran, dbBefore);
    return send(kTabularResult, t.data());
}

void Connection::run() {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    try {
        while (readMessage(&type, &payload)) {
            if (srv_.neverAnswer)
                continue;
            bool keep = true;
            if (type == kPrelogin && !session_) {
                keep = send(kTabularResult, preloginResponse());
            } else if (type == kLogin7 && !session_) {
                keep = handleLogin(payload);
            } else if (!session_) {
                keep = false;
            } else if (type == kSqlBatch) {
                keep = handleBatch(payload);
            } else if (type == kRpc) {
                keep = handleRpc(payload);
            } else if (type == kTransactionManager) {
                keep = handleTransaction(payload);
            } else if (type == kAttention) {
                // Requests are answered whole before the next is read, so there is nothing left to
                // cancel; the client still waits for the acknowledgement.
                TokenWriter t(dialect_);
                t.done(kDone, kDoneAttn, 0, 0);
                keep = send(kTabularResult, t.data());
            } else {
                keep = false;
            }
            if (!keep)
                break;
        }
    } catch (const std::exception&) {
        // A request we cannot parse (or a fault behind it): drop this connection, keep serving.
    }
}

}  // namespace

void Server::Impl::serve(Conn* c) {
    {
        Connection conn(*this, c->fd, wake[0]);
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

Server::Server(Options options) : d(std::make_unique<Impl>(std::move(options))) {}
Server::~Server() {
    stop();
}

bool Server::start(std::string* error) {
    if (d->running)
        return true;
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
    if (::pipe2(d->wake, O_CLOEXEC) < 0)
        return fail("pipe");
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

}  // namespace sandbox
