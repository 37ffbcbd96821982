#include "sql/PreloginProbe.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>
#include <QUdpSocket>

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

// The TCP port of host\instance, from the SQL Server Browser's answer to CLNT_UCAST_INST
// ([MC-SQLR] 2.2.4, 2.2.5): "...;tcp;1433;...". 0 when none came.
quint16 browserPort(const QString& host, const QString& instance, QDeadlineTimer deadline) {
    const QHostInfo info = QHostInfo::fromName(host);
    if (info.addresses().isEmpty())
        return 0;
    QUdpSocket udp;
    QByteArray ask(1, 0x04);
    ask += instance.toLocal8Bit();
    udp.writeDatagram(ask, info.addresses().constFirst(), 1434);
    while (udp.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
        QByteArray answer(int(udp.pendingDatagramSize()), 0);
        udp.readDatagram(answer.data(), answer.size());
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
    quint16 tcpPort = 1433;
    if (!port.isEmpty())
        tcpPort = port.toUShort();
    else if (!instance.isEmpty())
        tcpPort = browserPort(host, instance, deadline);
    if (tcpPort == 0)
        return Answer::Unknown;

    QTcpSocket socket;
    socket.connectToHost(host, tcpPort);
    if (!socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime()))))
        return Answer::Unknown;
    socket.write(preloginPacket());
    QByteArray reply;
    // One packet: its header says how long it is.
    while (reply.size() < 8 || reply.size() < ((quint8(reply[2]) << 8) | quint8(reply[3]))) {
        if (!socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            return Answer::Unknown;
        reply += socket.readAll();
    }
    socket.abort();
    if (reply[0] != kReply)
        return Answer::Unknown;
    return encryptionOf(reply.mid(8, ((quint8(reply[2]) << 8) | quint8(reply[3])) - 8));
}

}  // namespace PreloginProbe
