#pragma once

#include <QString>

// Asks a server whether it can encrypt at all, by the ENCRYPTION answer of its PRELOGIN alone
// ([MS-TDS] 2.2.6.5): nothing of the login, and no password, is sent. After an encrypted connect
// failed, this tells a server without TLS (whose operator may choose to connect in clear) from a
// handshake that failed.
namespace PreloginProbe {

enum class Answer {
    Encrypts,       // ENCRYPT_OFF, ON or REQ: the server has TLS
    CannotEncrypt,  // ENCRYPT_NOT_SUP
    Unknown,        // no answer, or not one of a SQL Server
};

// The server as typed, in its parts: without a port, an instance's is asked of the SQL Server
// Browser, else 1433.
Answer ask(const QString& host, const QString& instance, const QString& port, int timeoutMs);

// The ENCRYPTION option of a PRELOGIN response's payload (no packet header); Unknown when absent.
Answer encryptionOf(const QByteArray& payload);

}  // namespace PreloginProbe
