#pragma once
// One client connection: reads each request whole and answers it through a table of handlers by packet type.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sandbox/Engine.h"
#include "sandbox/Sandbox.h"
#include "sandbox/tds/Dialect.h"
#include "sandbox/tds/Transport.h"

namespace sandbox::tds {

struct ServerState;
class TlsTransport;
struct RpcRequest;

class Connection {
public:
    Connection(ServerState& srv, std::unique_ptr<Transport> io);
    ~Connection();  // closes the engine session, rolling back an open transaction
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Until the client leaves, a request cannot be parsed, or the server stops.
    void run();

private:
    // false: close the connection.
    using Handler = bool (Connection::*)(const std::vector<uint8_t>& payload);
    enum class Phase { BeforeLogin, LoggedIn };
    struct Route {
        uint8_t packetType;
        Phase phase;  // the request is refused (the connection closed) in the other phase
        Handler handler;
    };
    static const Route kRoutes[];

    bool dispatch(uint8_t type, const std::vector<uint8_t>& payload);
    bool onPrelogin(const std::vector<uint8_t>& payload);
    bool onLogin7(const std::vector<uint8_t>& payload);
    bool onSqlBatch(const std::vector<uint8_t>& payload);
    bool onRpc(const std::vector<uint8_t>& payload);
    bool onCursorOpen(const RpcRequest& rpc);
    bool rpcFailed(int number, int state, const std::string& text);
    bool onTransactionManager(const std::vector<uint8_t>& payload);
    bool onAttention(const std::vector<uint8_t>& payload);

    bool startTls(uint8_t answered);
    void noteRequest();
    bool send(uint8_t type, const std::vector<uint8_t>& payload);
    bool sendBatch(const BatchResult& result, uint64_t tranBefore, const std::string& databaseBefore);
    bool shouldDrop();
    bool attentionArrived();
    BatchResult runBatch(const std::string& sql);
    uint16_t spid() const { return session_ ? static_cast<uint16_t>(session_->spid) : 0; }

    ServerState& srv_;
    // All bytes in and out; a layer beneath the framing (TLS) replaces it with one that wraps it.
    std::unique_ptr<Transport> io_;
    Dialect dialect_;
    size_t packetSize_ = 4096;
    std::unique_ptr<Session> session_;
    int batches_ = 0;
    uint64_t dropGeneration_ = 0;
    bool attention_ = false;       // an ATTENTION read while a statement waited for a lock
    bool gone_ = false;            // the client left (or sent something else) while a statement waited
    TlsTransport* tls_ = nullptr;  // io_, once the client asked for TLS
    bool encryptAll_ = false;      // TLS for the whole session, not only the login
    // sp_prepare / sp_prepexec handles, numbered from 1 per connection as SQL Server does.
    struct Prepared {
        std::string declaration, statement;
    };
    std::map<int32_t, Prepared> prepared_;
    int32_t nextHandle_ = 1;
    uint64_t recordId_;
    ConnectionRecord record_;
};

}  // namespace sandbox::tds
