#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// The way back from a deletion: a T-SQL script that restores the yearly databases from their backups
// and puts the account set's catalogue rows back, exactly as they were read before the purge.
namespace deletion::undo {

struct Column {
    QString name;
    QString type;            // the server's type name (sys.types): int, nvarchar, datetime, varbinary, ...
    bool identity = false;   // values go back with IDENTITY_INSERT on
    bool generated = false;  // computed or rowversion: the server makes the value, so it is left out
};

struct Table {
    QString name;
    QList<Column> columns;
    QList<QVariantList> rows;  // values in column order; an invalid QVariant is Null
    QString condition;         // the purge's condition for this account set's rows
    QVariant checksum =
        QVariant();  // CHECKSUM_AGG(BINARY_CHECKSUM(*)) of those rows when read; Null for none
};

// A table as the script writes it: bracketed column names and each row's literals. What the script
// is made from, and what reading it gives back.
struct Rows {
    QString name;
    QStringList columns;  // bracketed, generated columns left out
    bool identity = false;
    QList<QStringList> values;  // literals, in column order
    QString condition;
    QVariant checksum;  // as in Table
};

struct Backup {
    QString database;
    QString file;            // on the server's disk
    bool filesLeft = false;  // dropped while OFFLINE: its files are still on the server's disk
};

struct Header {
    QString server;  // as the operator named it
    QString accountNo;
    QStringList years;
    QDateTime madeAt;
    QString catalogue = QStringLiteral("TQSystem");
    QString serverName;  // @@SERVERNAME where the rows were read; the script runs only there
};

// A value as an expression of its column's type: N'…' text with quotes doubled, and any character a
// runner could take for one of its own (line breaks, other control characters, "$(") written as
// NCHAR(n) or split; plain numbers, ISO 8601 date and time, 0x… binary, NULL. Empty when the value
// cannot be written faithfully.
QString literal(const QVariant& value, const QString& type);

// Text as an N'…' expression no runner reads differently (see literal()).
QString text(const QString& value);

// The whole script, batches separated by GO so sqlcmd, tsql and query windows all run it. Each batch
// stops the rest at its failure (SET NOEXEC ON); the first refuses another server. Databases that
// are there already are not restored, and the catalogue rows go back only when none of the account
// set's rows is in the catalogue.
// Fails (returns false, with the reason) when a value has no faithful literal: a script that would
// bring back something else is worse than none.
bool write(const Header& header, const QList<Backup>& backups, const QList<Table>& tables, QString* script,
           QString* error);

// The tables' values as literals; false, with the reason, as write().
bool render(const QList<Table>& tables, QList<Rows>* out, QString* error);
// The script of rendered tables, ending in a line with the SHA-256 of everything above it, so that
// a script edited or damaged afterwards is known as such.
QString compose(const Header& header, const QList<Backup>& backups, const QList<Rows>& tables);
// The last line: the SHA-256 of the script's text above it, as UTF-8.
inline const QString kChecksumPrefix = QStringLiteral("-- SHA-256: ");
QString checksumLine(const QString& above);
// A table's statements inside the catalogue transaction: IDENTITY_INSERT around its INSERTs.
QStringList insertStatements(const Header& header, const Rows& table);
// The three-part name of a catalogue table.
QString target(const Header& header, const QString& table);

// Writes the script as UTF-8 with a byte-order mark, all or nothing: a script that was cut short is
// never left behind looking complete. On failure, says why in the file system's words.
bool save(const QString& path, const QString& script, QString* error);

// server_account_yyyyMMdd-HHmmss.sql, with characters no file system accepts replaced.
QString fileName(const QString& server, const QString& accountNo, const QDateTime& at);

}  // namespace deletion::undo
