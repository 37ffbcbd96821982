#pragma once
// The deletions journal as a test reads it back.
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

// The journal's lines, each split into its fields; none when there is no journal.
inline QList<QStringList> journalLines(const QString& path) {
    QFile f(path);
    QList<QStringList> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts))
        out << line.split('\t');
    return out;
}
