#include "sql/PreloginProbe.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QStringList>

// Plain sockets, not Qt Network: this is the tool's only network code of its own, and the Qt
// that the Windows program ships is built without that module.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace PreloginProbe {

namespace {

constexpr char kPrelogin = 0x12, kReply = 0x04;
constexpr char kOptionVersion = 0x00, kOptionEncryption = 0x01, kTerminator = char(0xFF);
constexpr char kEncryptOn = 0x01, kEncryptNotSup = 0x02;

// VERSION and ENCRYPTION (ON), in one packet with its end-of-message status ([MS-TDS] 2.2.6.5).
QByteArray preloginPacket() {
    QByteArray payload;
    payload += kOptionVersion;
    payload += QByteArray::fromHex("000b0006");  // offset 11, 6 bytes
    payload += kOptionEncryption;
    payload += QByteArray::fromHex("00110001");  // offset 17, 1 byte
    payload += kTerminator;
    payload += QByteArray::fromHex("000000000000");  // client version: none claimed
    payload += kEncryptOn;
    QByteArray packet;
    packet += kPrelogin;
    packet += char(0x01);  // EOM
    const int length = 8 + int(payload.size());
    packet += char(length >> 8);
    packet += char(length & 0xFF);
    packet += QByteArray::fromHex("00000100");  // SPID 0, packet 1, window 0
    return packet + payload;
}

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
void closeSocket(Socket s) {
    closesocket(s);
}
int pollOne(pollfd* p, int ms) {
    return WSAPoll(p, 1, ms);
}
void setNonBlocking(Socket s) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}
// Winsock is started once a process.
bool startSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void closeSocket(Socket s) {
    ::close(s);
}
int pollOne(pollfd* p, int ms) {
    return ::poll(p, 1, ms);
}
void setNonBlocking(Socket s) {
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
}
bool startSockets() {
    return true;
}
#endif

// Closes its socket however the probe ends.
struct Endpoint {
    Socket s = kNoSocket;
    ~Endpoint() {
        if (s != kNoSocket)
            closeSocket(s);
    }
};

// Waits until the socket is ready for the events; false at the deadline or on an error.
bool waitFor(Socket s, short events, const QDeadlineTimer& deadline) {
    pollfd p{};
    p.fd = s;
    p.events = events;
    return pollOne(&p, int(qMax<qint64>(1, deadline.remainingTime()))) == 1 && (p.revents & events);
}

bool connectFinished(Socket s) {
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
}

// A socket connected (TCP) or aimed (UDP) at host:port, or kNoSocket by the deadline. Non-blocking,
// since a blocking connect has no time-out of its own.
Socket connectTo(const QString& host, quint16 port, int type, const QDeadlineTimer& deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found) != 0)
        return kNoSocket;
    Socket result = kNoSocket;
    for (addrinfo* a = found; a && result == kNoSocket; a = a->ai_next) {
        Endpoint e{::socket(a->ai_family, a->ai_socktype, a->ai_protocol)};
        if (e.s == kNoSocket)
            continue;
        setNonBlocking(e.s);
        if (::connect(e.s, a->ai_addr, int(a->ai_addrlen)) != 0 &&
            !(waitFor(e.s, POLLOUT, deadline) && connectFinished(e.s)))
            continue;
        result = e.s;
        e.s = kNoSocket;
    }
    ::freeaddrinfo(found);
    return result;
}

bool sendAll(Socket s, const QByteArray& data, const QDeadlineTimer& deadline) {
    for (qsizetype sent = 0; sent < data.size();) {
        if (!waitFor(s, POLLOUT, deadline))
            return false;
        const auto n = ::send(s, data.constData() + sent, int(data.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// What arrives next, by the deadline; empty at the deadline, at the end or on an error.
QByteArray receive(Socket s, const QDeadlineTimer& deadline) {
    if (!waitFor(s, POLLIN, deadline))
        return {};
    char buffer[4096];
    const auto n = ::recv(s, buffer, int(sizeof buffer), 0);
    return n > 0 ? QByteArray(buffer, int(n)) : QByteArray();
}

// The TCP port of host\instance, from the SQL Server Browser's answer to CLNT_UCAST_INST
// ([MC-SQLR] 2.2.4, 2.2.5): "...;tcp;1433;...". 0 when none came.
quint16 browserPort(const QString& host, const QString& instance, const QDeadlineTimer& deadline) {
    Endpoint udp{connectTo(host, 1434, SOCK_DGRAM, deadline)};
    QByteArray ask(1, 0x04);
    ask += instance.toLocal8Bit();
    if (udp.s == kNoSocket || !sendAll(udp.s, ask, deadline))
        return 0;
    for (QByteArray answer = receive(udp.s, deadline); !answer.isEmpty(); answer = receive(udp.s, deadline)) {
        if (answer.size() < 3 || answer[0] != 0x05)
            continue;
        const QStringList fields = QString::fromLocal8Bit(answer.mid(3)).split(QLatin1Char(';'));
        for (qsizetype i = 0; i + 1 < fields.size(); ++i) {
            if (fields[i].compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0)
                return fields[i + 1].toUShort();
        }
        return 0;
    }
    return 0;
}

}  // namespace

Answer encryptionOf(const QByteArray& payload) {
    for (qsizetype at = 0; at + 5 <= payload.size() && payload[at] != kTerminator; at += 5) {
        if (payload[at] != kOptionEncryption)
            continue;
        const int offset = (quint8(payload[at + 1]) << 8) | quint8(payload[at + 2]);
        const int length = (quint8(payload[at + 3]) << 8) | quint8(payload[at + 4]);
        if (length < 1 || offset >= payload.size())
            return Answer::Unknown;
        return payload[offset] == kEncryptNotSup ? Answer::CannotEncrypt : Answer::Encrypts;
    }
    return Answer::Unknown;
}

Answer ask(const QString& host, const QString& instance, const QString& port, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    if (!startSockets())
        return Answer::Unknown;
    quint16 tcpPort = 1433;
    if (!port.isEmpty())
        tcpPort = port.toUShort();
    else if (!instance.isEmpty())
        tcpPort = browserPort(host, instance, deadline);
    if (tcpPort == 0)
        return Answer::Unknown;

    Endpoint tcp{connectTo(host, tcpPort, SOCK_STREAM, deadline)};
    if (tcp.s == kNoSocket || !sendAll(tcp.s, preloginPacket(), deadline))
        return Answer::Unknown;
    QByteArray reply;
    // One packet: its header says how long it is.
    while (reply.size() < 8 || reply.size() < ((quint8(reply[2]) << 8) | quint8(reply[3]))) {
        const QByteArray more = receive(tcp.s, deadline);
        if (more.isEmpty())
            return Answer::Unknown;
        reply += more;
    }
    if (reply[0] != kReply)
        return Answer::Unknown;
    return encryptionOf(reply.mid(8, ((quint8(reply[2]) << 8) | quint8(reply[3])) - 8));
}

}  // namespace PreloginProbe
