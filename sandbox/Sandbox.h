#pragma once
// The sandbox server: TDS on loopback in front of an Engine, in-process or as acctset-sandbox.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sandbox/Engine.h"

namespace sandbox {

// What the server answers a client that offers encryption in its PRELOGIN.
enum class Encryption {
    Login,     // a server as installed: the login inside TLS, everything after it clear
    Required,  // "Force Encryption": everything inside TLS
    None,      // no TLS at all (ENCRYPT_NOT_SUP); the login travels in clear
    // As Login, with TLS 1.0 only: SQL Server 2008 R2 before its TLS 1.2 update.
    Tls10Only,
    // A TLS stack that speaks only TLS 1.3, which TDS 7.x cannot carry: the client finishes its
    // handshake outside the PRELOGIN packets, and the server closes the connection.
    Tls13Only,
};

// The SQL Server release played: LOGINACK, @@VERSION and SERVERPROPERTY('ProductVersion') agree.
enum class Release {
    SqlServer2008R2,  // 10.50 SP3 with its TLS 1.2 update, TDS 7.3B
    SqlServer2019,    // 15.0 RTM, TDS 7.4
};

struct Options {
    uint16_t port = 0;                 // 0: any free port
    std::string password = "sandbox";  // the sa password
    std::string sqlitePath = ":memory:";
    Encryption encryption = Encryption::Login;
    Release release = Release::SqlServer2019;
    std::string certFile, keyFile;  // PEM; empty: a self-signed certificate made at start
    // Not empty: also answer SQL Server Browser requests for this instance, on UDP browserPort.
    std::string instance;
    uint16_t browserPort = 1434;
    // The default backup directory; empty: backup/ beside sqlitePath when it is a file, else
    // acctset-sandbox-backup/ in the temporary directory. Made if missing.
    std::string backupDir;
    double backupPagesPerSecond = 0;  // BACKUP/RESTORE speed; 0: no pause
};

// What one connection did, in the order they were accepted.
struct ConnectionRecord {
    std::string tlsVersion;       // the TLS version negotiated; empty when there was no TLS
    std::string tlsFailure;       // why a handshake failed; empty when none failed
    bool loginSeen = false;       // a LOGIN7 arrived
    bool loginInsideTls = false;  // ... inside TLS, so the password did not travel in clear
    int requestsAfterLogin = 0;
    int requestsAfterLoginInsideTls = 0;
    // Every request after the login arrived inside TLS, and so went every answer.
    bool stayedEncrypted() const {
        return loginInsideTls && requestsAfterLogin == requestsAfterLoginInsideTls;
    }
};

class Server {
public:
    explicit Server(Options options = {});
    ~Server();  // stops

    bool start(std::string* error = nullptr);  // may run again after stop(); port 0 picks anew
    void stop();
    uint16_t port() const;
    // What to type into the tool: "127.0.0.1,PORT", or "127.0.0.1\\INSTANCE" with an instance.
    std::string serverName() const;

    Engine& engine();

    // Faults.
    // Every connection answers this many more SQL batches, counted from this call (or from its
    // login, if later), then closes when the next batch arrives, without running it. <0: off.
    // The driver's own probe on open is a batch too.
    void dropConnectionAfter(int batches);
    void setNeverAnswer(bool on);  // read requests, never answer (open connections too)
    void setRoundTripDelay(std::chrono::milliseconds delay);  // before every reply

    // Number of replies sent (round trips), for benchmarks.
    uint64_t roundTrips() const;

    // Every connection since start, once its thread has ended or now.
    std::vector<ConnectionRecord> connections() const;
    uint64_t browserAnswers() const;  // SQL Server Browser requests answered

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace sandbox
