// One client connection: reads each request whole and answers it through a table of handlers by packet type.
#include "sandbox/tds/Connection.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <regex>

#include "sandbox/Text.h"
#include "sandbox/tds/Attention.h"
#include "sandbox/tds/Login7.h"
#include "sandbox/tds/Packet.h"
#include "sandbox/tds/Prelogin.h"
#include "sandbox/tds/Release.h"
#include "sandbox/tds/Rpc.h"
#include "sandbox/tds/ServerState.h"
#include "sandbox/tds/SqlBatch.h"
#include "sandbox/tds/TlsTransport.h"
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

namespace {

// The server's ENCRYPTION answer to the client's, as [MS-TDS] 2.2.6.5 tabulates them: a server
// with TLS encrypts at least the login of every client that can, and tells one that cannot that
// it will not (FreeTDS, told ENCRYPT_OFF, would start TLS anyway); "Force Encryption" answers
// ENCRYPT_REQ, and a client that cannot encrypt is then turned away.
// https://learn.microsoft.com/en-us/openspecs/windows_protocols/ms-tds/60f56408-0188-4cd5-8b90-25c6f2423868
uint8_t encryptionAnswer(sandbox::Encryption mode, uint8_t client) {
    if (mode == sandbox::Encryption::None ||
        (client == kEncryptNotSup && mode != sandbox::Encryption::Required))
        return kEncryptNotSup;
    if (mode == sandbox::Encryption::Required)
        return kEncryptReq;
    return client == kEncryptOn || client == kEncryptReq ? kEncryptOn : kEncryptOff;
}

}  // namespace

Connection::Connection(ServerState& srv, std::unique_ptr<Transport> io)
    : srv_(srv), io_(std::move(io)), recordId_(srv.nextRecordId++) {
    srv_.publish(recordId_, record_);
}

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
    if (phase == Phase::LoggedIn)
        noteRequest();
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
    std::vector<uint8_t> data = std::move(t.data());
    // A cancelled batch ends with the acknowledgement the client waits for ([MS-TDS] 2.2.1.7).
    if (result.cancelled) {
        std::vector<uint8_t> ack = Attention::acknowledgement(dialect_);
        data.insert(data.end(), ack.begin(), ack.end());
    }
    return send(kTabularResult, data);
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

bool Connection::onPrelogin(const std::vector<uint8_t>& payload) {
    const Prelogin asked = Prelogin::decode(payload);
    const Prelogin::Option* option = asked.find(kPreloginEncryption);
    const uint8_t client = option && !option->data.empty() ? option->data[0] : uint8_t(kEncryptNotSup);
    const uint8_t answer = encryptionAnswer(srv_.options.encryption, client);
    const ReleaseFacts& release = releaseFacts(srv_.options.release);
    if (!send(kTabularResult,
              Prelogin::serverAnswer(answer, release.major, release.minor, release.build).encode()))
        return false;
    if (answer == kEncryptNotSup)
        return true;  // no TLS: the login follows in clear
    if (client == kEncryptNotSup)
        return false;  // encryption required, and this client cannot
    return startTls(answer);
}

// The client's handshake follows in PRELOGIN packets; from its end, the stream carries TLS records.
bool Connection::startTls(uint8_t answered) {
    auto tls = std::make_unique<TlsTransport>(std::move(io_), *srv_.tls);
    tls_ = tls.get();
    io_ = std::move(tls);
    encryptAll_ = answered != kEncryptOff;
    const bool done = tls_->handshake();
    record_.tlsVersion = tls_->version();
    record_.tlsFailure = done                    ? std::string()
                         : tls_->error().empty() ? std::string("the client left during the handshake")
                                                 : tls_->error();
    srv_.publish(recordId_, record_);
    return done;
}

void Connection::noteRequest() {
    ++record_.requestsAfterLogin;
    if (tls_ && tls_->encrypting())
        ++record_.requestsAfterLoginInsideTls;
    srv_.publish(recordId_, record_);
}

bool Connection::onLogin7(const std::vector<uint8_t>& payload) {
    record_.loginSeen = true;
    record_.loginInsideTls = tls_ && tls_->encrypting();
    srv_.publish(recordId_, record_);
    // With ENCRYPT_OFF only the login travels inside TLS; the answer to it is already clear.
    if (tls_ && !encryptAll_)
        tls_->stopEncrypting();
    const ReleaseFacts& release = releaseFacts(srv_.options.release);
    Login7 l = Login7::decode(payload);
    dialect_ = Dialect::fromLogin(l.tdsVersion, release.tdsVersion);
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
    session_->interrupted = [this] { return attentionArrived(); };
    session_->close = [this] { io_->shutdown(); };
    if (l.packetSize >= 512 && l.packetSize <= 32767)
        packetSize_ = l.packetSize;
    // FEATUREEXTACK arrived with TDS 7.4; an older release sends none.
    const bool utf8 = l.utf8Feature && release.utf8Collations && dialect_.level() >= 0x74;
    t.loginAccepted(session_->database, packetSize_, utf8,
                    uint32_t(release.major) << 24 | uint32_t(release.minor) << 16 | release.build);
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
    BatchResult result = runBatch(batch.sql);
    if (result.killed || gone_)
        return false;
    return sendBatch(result, tran, dbBefore);
}

BatchResult Connection::runBatch(const std::string& sql) {
    attention_ = false;
    return srv_.engine.execBatch(*session_, sql);
}

// Polled by a statement that waits for a lock (under the engine's lock, so briefly): a request
// that arrives then can only be an ATTENTION; anything else, or the client's leaving, ends it too.
bool Connection::attentionArrived() {
    if (attention_ || gone_)
        return true;
    if (!io_->readable())
        return false;
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    if (readMessage(*io_, &type, &payload) && type == kAttention)
        attention_ = true;
    else
        gone_ = true;
    return true;
}

// Clients open a server cursor on connect just to set an option; that needs no cursor, and SQL
// Server answers it by running the statement directly. Real cursors are not offered: forward-only
// statements are plain batches.
bool Connection::onCursorOpen(const RpcRequest& rpc) {
    const auto& params = rpc.params;
    static const std::regex setOption(R"(^\s*set\s+[a-z_]+(\s*,\s*[a-z_]+)*\s+(on|off)\s*;?\s*$)",
                                      std::regex::icase);
    if (params.size() < 2 || params[1].null || !std::regex_match(params[1].text, setOption))
        return rpcFailed(2812, 62, "Could not find stored procedure '" + rpc.name + "'.");
    TokenWriter t(dialect_);
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

bool Connection::rpcFailed(int number, int state, const std::string& text) {
    TokenWriter t(dialect_);
    t.message({.number = number, .state = state, .severity = 16, .text = text});
    t.done(kDoneProc, kDoneError, 0, 0);
    return send(kTabularResult, t.data());
}

// The procedures clients run statements through ([MS-TDS] 2.2.6.6, by name or by the ids of
// 2.2.6.6's ProcID): sp_executesql (@stmt, @params, values...), sp_prepare and sp_prepexec
// (@handle OUTPUT, @params, @stmt [, values...]), sp_execute (@handle, values...), sp_unprepare.
// The statement runs as a batch with each parameter bound to its typed value; its results end
// in DONEINPROC, then RETURNSTATUS, the handle's RETURNVALUE and DONEPROC (2.2.2.6).
// https://learn.microsoft.com/en-us/openspecs/windows_protocols/ms-tds/619c43b6-9495-4a58-9e49-a4950db245b3
bool Connection::onRpc(const std::vector<uint8_t>& payload) {
    RpcRequest rpc = RpcRequest::decode(payload, dialect_);
    const std::string name = lower(rpc.name);
    const auto& params = rpc.params;
    if (!rpc.paramsRead)
        return rpcFailed(8009, 1,
                         "The incoming tabular data stream (TDS) remote procedure call (RPC) protocol stream "
                         "is incorrect. Parameter " +
                             std::to_string(params.size() + 1) + ": the data type is not supported.");
    if (name == "sp_cursoropen")
        return onCursorOpen(rpc);
    auto text = [&](size_t i) {
        return i < params.size() && !params[i].null ? params[i].text : std::string();
    };
    auto from = [&](size_t i) {
        return std::vector<RpcParam>(params.begin() + static_cast<std::ptrdiff_t>(std::min(i, params.size())),
                                     params.end());
    };
    auto handleArg = [&]() -> std::optional<int32_t> {
        if (params.empty() || !params[0].isInt || params[0].null)
            return std::nullopt;
        return static_cast<int32_t>(params[0].i);
    };
    std::string sql;
    std::optional<int32_t> handleOut;
    if (name == "sp_executesql") {
        if (params.empty() || params[0].null)
            return rpcFailed(214, 2,
                             "Procedure expects parameter '@statement' of type 'ntext/nchar/nvarchar'.");
        sql = bindParameters(text(0), text(1), from(2));
    } else if (name == "sp_prepare" || name == "sp_prepexec") {
        if (params.size() < 3)
            return rpcFailed(201, 4,
                             "Procedure or function '" + name +
                                 "' expects parameter '@stmt', which was not "
                                 "supplied.");
        const int32_t handle = nextHandle_++;
        prepared_[handle] = {text(1), text(2)};
        handleOut = handle;
        if (name == "sp_prepare") {
            TokenWriter t(dialect_);
            t.returnStatus(0);
            t.returnValueInt(0, params[0].name, handle);
            t.done(kDoneProc, kDoneFinal, 0, 0);
            return send(kTabularResult, t.data());
        }
        sql = bindParameters(text(2), text(1), from(3));
    } else if (name == "sp_execute" || name == "sp_unprepare") {
        auto handle = handleArg();
        auto found = handle ? prepared_.find(*handle) : prepared_.end();
        if (found == prepared_.end())
            return rpcFailed(
                8179, 2,
                "Could not find prepared statement with handle " + std::to_string(handle.value_or(0)) + ".");
        if (name == "sp_unprepare") {
            prepared_.erase(found);
            TokenWriter t(dialect_);
            t.returnStatus(0);
            t.done(kDoneProc, kDoneFinal, 0, 0);
            return send(kTabularResult, t.data());
        }
        sql = bindParameters(found->second.statement, found->second.declaration, from(1));
    } else {
        return rpcFailed(2812, 62, "Could not find stored procedure '" + rpc.name + "'.");
    }

    uint64_t tran = session_->tranDescriptor;
    std::string dbBefore = session_->database;
    BatchResult result = runBatch(sql);
    if (result.killed || gone_)
        return false;
    bool failed = false;
    for (const auto& piece : result.pieces) {
        for (const auto& m : piece.messages)
            failed = failed || m.severity > 10;
    }
    TokenWriter t(dialect_);
    t.batch(result, tran, dbBefore, true);
    if (!result.cancelled) {
        t.returnStatus(failed ? 1 : 0);
        if (handleOut)
            t.returnValueInt(0, params[0].name, *handleOut);
        t.done(kDoneProc, failed ? kDoneError : kDoneFinal, 0, 0);
    }
    std::vector<uint8_t> data = std::move(t.data());
    if (result.cancelled) {
        std::vector<uint8_t> ack = Attention::acknowledgement(dialect_);
        data.insert(data.end(), ack.begin(), ack.end());
    }
    return send(kTabularResult, data);
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
        BatchResult part = runBatch(s);
        if (part.killed || gone_)
            return false;
        all.cancelled = all.cancelled || part.cancelled;
        for (auto& p : part.pieces) {
            p.rowCount = -1;
            all.pieces.push_back(std::move(p));
        }
        if (part.cancelled)
            break;
    }
    return sendBatch(all, tran, dbBefore);
}

// An ATTENTION that arrives while a statement waits for a lock is read by attentionArrived; one
// that arrives here found its request answered already, and the client still waits for the
// acknowledgement.
bool Connection::onAttention(const std::vector<uint8_t>& payload) {
    Attention::decode(payload);
    return send(kTabularResult, Attention::acknowledgement(dialect_));
}

}  // namespace sandbox::tds
