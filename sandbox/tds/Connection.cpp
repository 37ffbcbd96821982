// One client connection: reads each request whole and answers it through a table of handlers by packet type.
#include "sandbox/tds/Connection.h"

#include <chrono>
#include <regex>

#include "sandbox/Text.h"
#include "sandbox/tds/Attention.h"
#include "sandbox/tds/Login7.h"
#include "sandbox/tds/Packet.h"
#include "sandbox/tds/Prelogin.h"
#include "sandbox/tds/Rpc.h"
#include "sandbox/tds/ServerState.h"
#include "sandbox/tds/SqlBatch.h"
#include "sandbox/tds/Tokens.h"
#include "sandbox/tds/TransactionManager.h"

namespace sandbox::tds {

const Connection::Route Connection::kRoutes[] = {
    {kPrelogin, Phase::BeforeLogin, &Connection::onPrelogin},
    {kLogin7, Phase::BeforeLogin, &Connection::onLogin7},
    {kSqlBatch, Phase::LoggedIn, &Connection::onSqlBatch},
    {kRpc, Phase::LoggedIn, &Connection::onRpc},
    {kTransactionManager, Phase::LoggedIn, &Connection::onTransactionManager},
    {kAttention, Phase::LoggedIn, &Connection::onAttention},
};

Connection::Connection(ServerState& srv, std::unique_ptr<Transport> io) : srv_(srv), io_(std::move(io)) {}

Connection::~Connection() {
    if (session_)
        srv_.engine.closeSession(*session_);
}

void Connection::run() {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    try {
        while (readMessage(*io_, &type, &payload)) {
            if (srv_.neverAnswer)
                continue;
            if (!dispatch(type, payload))
                break;
        }
    } catch (const std::exception&) {
        // A request we cannot parse (or a fault behind it): drop this connection, keep serving.
    }
}

bool Connection::dispatch(uint8_t type, const std::vector<uint8_t>& payload) {
    const Phase phase = session_ ? Phase::LoggedIn : Phase::BeforeLogin;
    for (const Route& route : kRoutes) {
        if (route.packetType == type)
            return route.phase == phase && (this->*route.handler)(payload);
    }
    return false;
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
    return io_->write(bytes.data(), bytes.size());
}

bool Connection::sendBatch(const BatchResult& result, uint64_t tranBefore,
                           const std::string& databaseBefore) {
    TokenWriter t(dialect_);
    t.batch(result, tranBefore, databaseBefore);
    return send(kTabularResult, t.data());
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

bool Connection::onPrelogin(const std::vector<uint8_t>&) {
    return send(kTabularResult, Prelogin::serverAnswer().encode());
}

bool Connection::onLogin7(const std::vector<uint8_t>& payload) {
    Login7 l = Login7::decode(payload);
    dialect_ = Dialect::fromLogin(l.tdsVersion);
    TokenWriter t(dialect_);
    std::string database = l.database.empty() ? "master" : l.database;
    bool ok = lower(l.user) == "sa" && l.password == srv_.options.password;
    if (ok && !srv_.engine.databaseExists(database)) {
        t.message(
            {.number = 4060,
             .state = 1,
             .severity = 11,
             .text = "Cannot open database \"" + database + "\" requested by the login. The login failed."});
        ok = false;
    }
    if (!ok) {
        t.message(
            {.number = 18456, .state = 1, .severity = 14, .text = "Login failed for user '" + l.user + "'."});
        t.done(kDone, kDoneError, 0, 0);
        send(kTabularResult, t.data());
        return false;
    }
    session_ = srv_.engine.openSession(database, l.user, l.host, l.app);
    session_->cancelRequested = [io = io_.get()] { return io->inputPending(); };
    if (l.packetSize >= 512 && l.packetSize <= 32767)
        packetSize_ = l.packetSize;
    t.loginAccepted(session_->database, packetSize_, l.utf8Feature);
    // The reply goes out in 4096-byte packets: the new size applies from the next message.
    size_t negotiated = packetSize_;
    packetSize_ = 4096;
    bool sent = send(kTabularResult, t.data());
    packetSize_ = negotiated;
    return sent;
}

bool Connection::onSqlBatch(const std::vector<uint8_t>& payload) {
    if (shouldDrop())
        return false;
    SqlBatch batch = SqlBatch::decode(payload, dialect_);
    uint64_t tran = session_->tranDescriptor;
    std::string dbBefore = session_->database;
    BatchResult result = srv_.engine.execBatch(*session_, batch.sql);
    return sendBatch(result, tran, dbBefore);
}

// Clients open a server cursor on connect just to set an option; that needs no cursor, and SQL
// Server answers it by running the statement directly. Real cursors are not offered: forward-only
// statements are plain batches.
bool Connection::onRpc(const std::vector<uint8_t>& payload) {
    RpcRequest rpc = RpcRequest::decode(payload, dialect_);
    const auto& params = rpc.params;
    TokenWriter t(dialect_);
    static const std::regex setOption(R"(^\s*set\s+[a-z_]+(\s*,\s*[a-z_]+)*\s+(on|off)\s*;?\s*$)",
                                      std::regex::icase);
    if (lower(rpc.name) != "sp_cursoropen" || !rpc.paramsRead || params.size() < 2 || params[1].null ||
        !std::regex_match(params[1].text, setOption)) {
        t.message({.number = 2812,
                   .state = 62,
                   .severity = 16,
                   .text = "Could not find stored procedure '" + rpc.name + "'."});
        t.done(kDoneProc, kDoneError, 0, 0);
        return send(kTabularResult, t.data());
    }
    t.message({.number = 16954, .state = 1, .severity = 10, .text = "Executing SQL directly; no cursor."},
              rpc.name);
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

bool Connection::onTransactionManager(const std::vector<uint8_t>& payload) {
    auto request = TransactionManagerRequest::decode(payload, dialect_);
    std::vector<std::string> statements = request.statements();
    if (statements.empty()) {
        TokenWriter t(dialect_);
        t.message({.number = 8509,
                   .state = 1,
                   .severity = 16,
                   .text = "The transaction manager request is not supported."});
        t.done(kDone, kDoneError, 0, 0);
        return send(kTabularResult, t.data());
    }
    BatchResult all;
    uint64_t tran = session_->tranDescriptor;
    std::string dbBefore = session_->database;
    for (const auto& s : statements) {
        BatchResult part = srv_.engine.execBatch(*session_, s);
        for (auto& p : part.pieces) {
            p.rowCount = -1;
            all.pieces.push_back(std::move(p));
        }
    }
    return sendBatch(all, tran, dbBefore);
}

// Requests are answered whole before the next is read: a long one (BACKUP) has already seen the
// Attention waiting and stopped. The client still waits for the acknowledgement.
bool Connection::onAttention(const std::vector<uint8_t>& payload) {
    Attention::decode(payload);
    return send(kTabularResult, Attention::acknowledgement(dialect_));
}

}  // namespace sandbox::tds
