#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "deletion/UndoScript.h"

// An undo script read back, for a restore from the window. Only a script exactly as this tool writes
// it is accepted: it is read into its parts, written again from them, and the two must agree line for
// line, the SHA-256 on the last line included. The values are checked against the literals the
// writer makes, so that no statement but the script's own can come out of a file.
namespace deletion::undo {

struct Script {
    QString path;
    Header header;
    QList<Backup> backups;
    QList<Rows> tables;  // in the script's order: the registration first

    qsizetype rowCount() const;
};

struct ReadError {
    int line = 0;  // 1-based; 0 when the file as a whole is at fault
    QString reason;
    QString text() const;  // the reason, with the line when there is one
};

bool read(const QString& path, Script* out, ReadError* error);
bool parse(const QByteArray& bytes, Script* out, ReadError* error);

// The value of a text expression the writer makes (N'…' + NCHAR(n) + …); false when it is not one.
bool decodeText(const QString& expression, QString* value);

}  // namespace deletion::undo
