#pragma once

#include <QString>

// Values go into statements as literals, never as bound parameters (the driver sends bound text in
// the server's code page). Escaping keeps any input from changing what a statement does.
namespace SqlText {

// The inside of a '…' literal: each single quote doubled. "0'1" -> "0''1".
inline QString literal(const QString& value) {
    QString out = value;
    out.replace(QLatin1Char('\''), QStringLiteral("''"));
    return out;
}

// The value as a complete literal. A value with any character outside ASCII goes as N'…': a plain
// literal is converted to the database's code page, which silently turns a character it lacks
// into its nearest match or "?". ASCII values keep the plain form installations have always seen.
inline QString quoted(const QString& value) {
    bool ascii = true;
    for (const QChar c : value)
        ascii = ascii && c.unicode() < 0x80;
    return (ascii ? QStringLiteral("'") : QStringLiteral("N'")) + literal(value) + QLatin1Char('\'');
}

// A name as a bracket-quoted identifier: "a]b" -> "[a]]b]".
inline QString bracketed(const QString& name) {
    QString out = name;
    out.replace(QLatin1Char(']'), QStringLiteral("]]"));
    return QLatin1Char('[') + out + QLatin1Char(']');
}

}  // namespace SqlText
