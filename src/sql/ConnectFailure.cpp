// Why a connection failed, from the driver's numbers and words.
#include "sql/ConnectFailure.h"

#include <QRegularExpression>

#include <algorithm>

namespace ConnectFailure {

namespace {

QList<int> numbers(const QString& nativeCodes) {
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    QList<int> out;
    auto it = digits.globalMatch(nativeCodes);
    while (it.hasNext())
        out << it.next().captured().toInt();
    return out;
}

bool saysAny(const QString& words, std::initializer_list<const char*> phrases) {
    for (const char* p : phrases) {
        if (words.contains(QLatin1String(p), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

}  // namespace

SqlError::Cause classify(const QString& nativeCodes, const QString& words, bool namedInstance, int waitedMs) {
    const QList<int> codes = numbers(nativeCodes);
    // Microsoft's drivers: "Error Locating Server/Instance Specified". FreeTDS names no cause: after
    // asking the Browser for 16 s it reports the server unavailable (20009), as it does at once for
    // a closed port the Browser did name.
    const bool browserSilent = codes.contains(20009) && !codes.contains(20002) && waitedMs >= 1000;
    if (namedInstance && (saysAny(words, {"Locating Server/Instance"}) || browserSilent))
        return SqlError::Cause::InstanceNotFound;
    // Microsoft's drivers name their TLS layer, and OpenSSL's words say when the versions did not meet.
    const bool oldTls = saysAny(words, {"unsupported protocol", "wrong version number", "protocol version",
                                        "no protocols available", "version too low"});
    if (oldTls)
        return SqlError::Cause::OldTls;
    if (saysAny(words,
                {"SSL Provider", "TLS", "handshakes before login", "pre-login handshake", "encryption"}))
        return SqlError::Cause::Encryption;
    // FreeTDS says only "Adaptive Server connection failed" (20002) when its login exchange breaks
    // off without a word from the server: after a failed handshake, or when the server dropped the
    // connection straight after it. A refused login carries the server's own number instead.
    const bool serverSpoke =
        std::any_of(codes.begin(), codes.end(), [](int c) { return c < 20000 && c > 0; });
    if (codes.contains(20002) && !serverSpoke)
        return SqlError::Cause::Encryption;
    return SqlError::Cause::Unknown;
}

}  // namespace ConnectFailure
