#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// A failure as a value: carries the server's own number and words so that callers can show them
// and compare numbers, never message texts.
struct SqlError {
    enum class Kind {
        None,        // no failure
        Connection,  // the connection could not be opened, or is not open
        Statement,   // the server refused a statement
        NoDriver,    // no SQL Server ODBC driver is installed
        Refused,     // input refused before anything was sent (e.g. a password the driver cannot carry)
    };
    // Why a connection could not be opened, where the driver's words tell.
    enum class Cause {
        Unknown,
        Encryption,        // the TLS handshake (or the exchange right after it) failed
        OldTls,            // ... and the words say the server's TLS version is too old
        InstanceNotFound,  // host\instance: no SQL Server Browser answered for that instance
        // The server has no TLS at all (its PRELOGIN says so), and the connect asked for
        // encryption: nothing was sent, not even the login.
        ServerWithoutTls,
    };
    Kind kind = Kind::None;
    int nativeCode = 0;  // the server's error number, 0 when there is none
    QString message;     // the server's own words, or the driver's when the server said nothing
    Cause cause = Cause::Unknown;
    int waitedMs = 0;  // how long a failed open waited

    bool isError() const { return kind != Kind::None; }
    static SqlError none() { return {}; }
};

// A static result: every row fetched, so the row count is known before any row is read.
// A Null value is an invalid QVariant; an empty text is a valid empty QString.
struct SqlResult {
    SqlError error;
    QStringList columns;
    QList<QVariantList> rows;

    bool ok() const { return !error.isError(); }
    qsizetype rowCount() const { return rows.size(); }
    // Column names are matched without regard to case, as the server does.
    QVariant value(qsizetype row, const QString& column) const {
        for (qsizetype c = 0; c < columns.size(); ++c) {
            if (columns[c].compare(column, Qt::CaseInsensitive) == 0)
                return row >= 0 && row < rows.size() && c < rows[row].size() ? rows[row][c] : QVariant();
        }
        return {};
    }
};

// What the operator typed to reach the server; the login and catalogue are fixed.
struct ConnectionSpec {
    QString server;    // trimmed: host, host\instance or host,port
    QString password;  // trimmed
    QString login = QStringLiteral("sa");
    QString database = QStringLiteral("TQSystem");
    // Only on the operator's word: a server without TLS then gets the login, password and all
    // that follows in clear. Otherwise a connect that cannot be encrypted fails.
    bool allowUnencrypted = false;
};

// The one connection of the main window: a query (static result), a command (no rows) and a batch
// (several statements in one round trip). Every call is synchronous for the caller.
class SqlClient {
public:
    virtual ~SqlClient() = default;
    virtual SqlError open(const ConnectionSpec& spec) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual SqlResult query(const QString& sql) = 0;
    virtual SqlError command(const QString& sql) = 0;
    // Sends the statements as one batch and reads every result the server returns, in order: a
    // result set or a row count per statement that produced one (SET and BEGIN TRANSACTION may
    // produce none), and the error that ended the reading as the last entry. A batch of queries
    // only thus gives one entry per query, unless an error ended it early. Never empty.
    virtual QList<SqlResult> batch(const QStringList& statements) = 0;
    // A long command (a backup) the caller may stop: while it waits, the caller's own windows take
    // input, so a cancel button can be pressed; cancel(), from the caller's thread, then asks the
    // server to stop the statement and keeps the session.
    virtual SqlError interruptible(const QString& sql) { return command(sql); }
    virtual void cancel() {}
};

// The first failure of a batch, or none.
inline SqlError firstError(const QList<SqlResult>& results) {
    for (const SqlResult& r : results) {
        if (!r.ok())
            return r.error;
    }
    return SqlError::none();
}

// Entry i of a batch's results; one the batch never reached carries the error that ended it.
inline SqlResult resultAt(const QList<SqlResult>& results, qsizetype i) {
    if (i < results.size())
        return results[i];
    SqlResult missing;
    missing.error = firstError(results);
    if (!missing.error.isError())
        missing.error = {SqlError::Kind::Statement, 0, QStringLiteral("服务器未返回结果")};
    return missing;
}

// The server's words with its error number, for the operator.
inline QString serverWords(const SqlError& e) {
    if (e.nativeCode != 0)
        return e.message + QStringLiteral(" (") + QString::number(e.nativeCode) + QLatin1Char(')');
    return e.message;
}
