#include "sql/OdbcClient.h"

#ifdef _WIN32
// Windows' ODBC headers use its base types without including them.
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <iterator>
#include <mutex>
#include <string>
#include <utility>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>

#include "sql/ConnectFailure.h"
#include "sql/ConnectionString.h"
#include "sql/OdbcRows.h"
#include "sql/PreloginProbe.h"
#include "sql/SessionOptions.h"

namespace {

struct BusyHooks {
    std::function<void()> begin;
    std::function<void()> end;
};

BusyHooks& busyHooks() {
    static BusyHooks hooks;
    return hooks;
}

// The driver manager and the driver prefix every message with their names; the operator needs the
// server's words.
QString withoutTags(const QString& text) {
    static const QRegularExpression tags(
        QStringLiteral(R"((?:\[(?:FreeTDS|SQL Server|unixODBC|Driver Manager|Microsoft|ODBC [^\]]*)\])+)"));
    QStringList parts = text.split(tags, Qt::SkipEmptyParts);
    for (QString& p : parts)
        p = p.trimmed();
    parts.removeAll(QString());
    parts.removeDuplicates();
    return parts.join(QLatin1Char('\n'));
}

QString serverWords(const QSqlError& e) {
    return withoutTags(e.databaseText().isEmpty() ? e.driverText() : e.databaseText());
}

// Every diagnostic record of a statement: the first server number, and all the words (a failed
// backup says why in one message and that it ended in the next).
SqlError statementError(SQLHSTMT st) {
    SqlError e{SqlError::Kind::Statement, 0, {}};
    QStringList words;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
#ifdef _WIN32
        // Windows' narrow ODBC functions speak the system's code page, not UTF-8: use the wide ones.
        SQLWCHAR state[6];
        SQLWCHAR text[2048];
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, st, i, state, &native, text,
                                          SQLSMALLINT(std::size(text)), &len)))
            break;
        const QString words1 = QString::fromWCharArray(text, qMin<qsizetype>(len, std::size(text) - 1));
#else
        SQLCHAR state[6];
        SQLCHAR text[2048];
        if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, st, i, state, &native, text, sizeof text, &len)))
            break;
        const QString words1 = QString::fromUtf8(reinterpret_cast<const char*>(text));
#endif
        if (e.nativeCode == 0)
            e.nativeCode = native;
        words << withoutTags(words1);
    }
    words.removeAll(QString());
    e.message = words.join(QLatin1Char('\n'));
    return e;
}

// Qt joins the numbers of several diagnostic records; the first one that is not 0 is the server's.
int nativeNumber(const QSqlError& e) {
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    auto it = digits.globalMatch(e.nativeErrorCode());
    while (it.hasNext()) {
        const int n = it.next().captured().toInt();
        if (n != 0)
            return n;
    }
    return 0;
}

SqlError errorOf(const QSqlError& e, SqlError::Kind kind) {
    return {kind, nativeNumber(e), serverWords(e)};
}

SqlError notConnected() {
    return {SqlError::Kind::Connection, 0, QStringLiteral("未连接数据库服务器。")};
}

class OdbcClient final : public SqlClient {
public:
    OdbcClient() : name_(QStringLiteral("acctset-odbc-%1").arg(reinterpret_cast<quintptr>(this), 0, 16)) {
        thread_.setObjectName(QStringLiteral("sql-connection"));
        context_ = new QObject;
        context_->moveToThread(&thread_);
        thread_.start();
    }

    ~OdbcClient() override {
        // No event loop here: the owner is being destroyed, its events must not run now.
        QMetaObject::invokeMethod(
            context_,
            [this] {
                closeOnWorker();
                QSqlDatabase::removeDatabase(name_);
            },
            Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
        delete context_;
    }

    SqlError open(const ConnectionSpec& spec) override {
        return call([this, spec] { return openOnWorker(spec); });
    }

    void close() override {
        call([this] {
            closeOnWorker();
            return 0;
        });
    }

    bool isOpen() const override { return open_.load(); }

    SqlResult query(const QString& sql) override {
        return call([this, sql] {
            QSqlQuery q(QSqlDatabase::database(name_, false));
            SqlResult r;
            if (!start(q, sql, r))
                return r;
            r = current(q);
            if (r.ok())
                r.error = drain(q);
            return r;
        });
    }

    QList<SqlResult> batch(const QStringList& statements) override {
        return call([this, statements] {
            QSqlQuery q(QSqlDatabase::database(name_, false));
            QList<SqlResult> out(1);
            if (!start(q, statements.join(QStringLiteral(";\n")), out.first()))
                return out;
            out.clear();
            do {
                out << current(q);
                if (!out.last().ok())
                    return out;
            } while (q.nextResult());
            // The driver reports the failure of a later statement when its result is reached.
            if (q.lastError().isValid()) {
                SqlResult failed;
                failed.error = errorOf(q.lastError(), SqlError::Kind::Statement);
                out << failed;
            }
            return out;
        });
    }

    SqlError command(const QString& sql) override {
        return call([this, sql] {
            QSqlQuery q(QSqlDatabase::database(name_, false));
            SqlResult r;
            return start(q, sql, r) ? drain(q) : r.error;
        });
    }

    SqlError interruptible(const QString& sql) override {
        {
            std::lock_guard lock(stmtMutex_);
            cancelled_ = false;
        }
        return call([this, sql] { return runCancellable(sql); }, QEventLoop::AllEvents);
    }

    // ODBC lets another thread cancel a statement that is executing; FreeTDS then sends an
    // attention and the session stays open
    // (https://learn.microsoft.com/en-us/sql/odbc/reference/syntax/sqlcancel-function).
    void cancel() override {
        std::lock_guard lock(stmtMutex_);
        cancelled_ = true;
        if (stmt_ != SQL_NULL_HSTMT)
            SQLCancel(stmt_);
    }

private:
    // QtSql keeps its statement handle to itself, so a statement that must be cancellable runs on
    // a handle of our own on the same connection.
    SqlError runCancellable(const QString& sql) {
        const QSqlDatabase db = QSqlDatabase::database(name_, false);
        if (!db.isValid() || !db.isOpen())
            return notConnected();
        const QVariant h = db.driver()->handle();
        SQLHDBC dbc = h.isValid() ? *static_cast<const SQLHDBC*>(h.constData()) : SQL_NULL_HDBC;
        SQLHSTMT st = SQL_NULL_HSTMT;
        if (dbc == SQL_NULL_HDBC || !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st)))
            return notConnected();
        {
            std::lock_guard lock(stmtMutex_);
            if (cancelled_) {
                SQLFreeHandle(SQL_HANDLE_STMT, st);
                return {SqlError::Kind::Statement, 0, QStringLiteral("Operation canceled")};
            }
            stmt_ = st;
        }
#ifdef _WIN32
        std::wstring text = sql.toStdWString();
        SQLRETURN rc = SQLExecDirectW(st, text.data(), SQL_NTS);
#else
        // The connection asks for UTF-8 (ClientCharset), as QtSql's own statements do.
        QByteArray text = sql.toUtf8();
        SQLRETURN rc = SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
#endif
        SqlError e;
        while (rc != SQL_NO_DATA) {
            if (rc == SQL_ERROR) {
                e = statementError(st);
                break;
            }
            rc = SQLMoreResults(st);
        }
        {
            std::lock_guard lock(stmtMutex_);
            stmt_ = SQL_NULL_HSTMT;
        }
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        return e;
    }

    // Sends sql on an open connection; false with r.error set when it could not run.
    bool start(QSqlQuery& q, const QString& sql, SqlResult& r) {
        const QSqlDatabase db = QSqlDatabase::database(name_, false);
        if (!db.isValid() || !db.isOpen()) {
            r.error = notConnected();
            return false;
        }
        // Forward-only: a scrollable query makes the driver fetch one row per round trip.
        q.setForwardOnly(true);
        if (!q.exec(sql)) {
            r.error = errorOf(q.lastError(), SqlError::Kind::Statement);
            return false;
        }
        return true;
    }

    // The result the query stands on: its rows, or an empty result for a statement without rows.
    static SqlResult current(QSqlQuery& q) {
        SqlResult r;
        if (!q.isSelect())
            return r;
        const QSqlRecord rec = q.record();
        const int n = rec.count();
        for (int i = 0; i < n; ++i)
            r.columns << rec.fieldName(i);
        QSqlError failed;
        if (!readOdbcRows(q, &r.rows, &failed))
            r.error = errorOf(failed, SqlError::Kind::Statement);
        return r;
    }

    // The driver reports a failure of a later statement of a batch only when its result is reached.
    static SqlError drain(QSqlQuery& q) {
        while (q.nextResult()) {
        }
        return q.lastError().isValid() ? errorOf(q.lastError(), SqlError::Kind::Statement) : SqlError::none();
    }

    SqlError openOnWorker(const ConnectionSpec& spec) {
        closeOnWorker();
#ifdef Q_OS_WIN
        const QString noQodbc = QStringLiteral(
            "程序目录中缺少 Qt 的 ODBC 数据库驱动(sqldrivers\\qsqlodbc.dll)，请重新安装本工具。");
        const QString install = QStringLiteral("请安装 Microsoft ODBC Driver 18 for SQL Server。");
#else
        const QString noQodbc =
            QStringLiteral("未安装 Qt 的 ODBC 数据库驱动(QODBC)。Debian 上请安装软件包 libqt6sql6-odbc。");
        const QString install = QStringLiteral("Debian 上请安装软件包 tdsodbc。");
#endif
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC")))
            return {SqlError::Kind::NoDriver, 0, noQodbc};
        const QString driver = ConnectionString::chooseDriver(installedOdbcDrivers());
        if (driver.isEmpty()) {
            return {SqlError::Kind::NoDriver, 0,
                    QStringLiteral("未找到 SQL Server 的 ODBC 驱动程序(%1)。")
                            .arg(ConnectionString::preferredDrivers().join(QStringLiteral("、"))) +
                        install};
        }
        const ConnectionString::Built built = ConnectionString::build(spec, driver);
        if (built.error.isError())
            return built.error;

        QSqlDatabase db = QSqlDatabase::contains(name_)
                              ? QSqlDatabase::database(name_, false)
                              : QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name_);
        db.setDatabaseName(built.text);
        // Without it an open against a server that accepts but never answers blocks for ever;
        // the driver ignores a timeout given in the string.
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=15"));
        QElapsedTimer waited;
        waited.start();
        // No second try on failure: one without encryption would send the password in clear,
        // which only the operator may choose (allowUnencrypted).
        if (!db.open()) {
            SqlError e = errorOf(db.lastError(), SqlError::Kind::Connection);
            e.waitedMs = static_cast<int>(waited.elapsed());
            const ConnectionString::ServerAddress a = ConnectionString::parseServer(spec.server);
            e.cause = ConnectFailure::classify(db.lastError().nativeErrorCode(), e.message,
                                               !a.instance.isEmpty() && a.port.isEmpty(), e.waitedMs);
            // The drivers' words do not tell a server without TLS from a handshake that broke
            // off; the server's own PRELOGIN answer does.
            if (e.cause == SqlError::Cause::Encryption && !spec.allowUnencrypted &&
                PreloginProbe::ask(a.host, a.instance, a.port, 5000) == PreloginProbe::Answer::CannotEncrypt)
                e.cause = SqlError::Cause::ServerWithoutTls;
            // The string holds the password: never let it reach a message.
            db.setDatabaseName(QString());
            return e;
        }
        db.setDatabaseName(QString());
        // Without these no statement may wait for another session's locks without end.
        QSqlQuery setup(db);
        SqlResult r;
        if (!start(setup, SessionOptions::statement(), r) || (r.error = drain(setup)).isError()) {
            setup = QSqlQuery();
            db.close();
            return {SqlError::Kind::Connection, r.error.nativeCode, r.error.message};
        }
        open_ = true;
        return SqlError::none();
    }

    void closeOnWorker() {
        if (QSqlDatabase::contains(name_)) {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            db.close();
        }
        open_ = false;
    }

    // Runs fn on the connection's thread and waits for it, keeping the caller's window painting.
    template <typename Fn>
    auto call(Fn fn, QEventLoop::ProcessEventsFlags waitFlags = QEventLoop::ExcludeUserInputEvents)
        -> decltype(fn()) {
        using R = decltype(fn());
        if (QThread::currentThread() == &thread_)
            return fn();
        R result{};
        // The worker touches the loop only under the lock, and the caller leaves only after seeing
        // done under it, so the loop outlives every use.
        std::mutex m;
        bool done = false;
        QEventLoop loop;
        const bool haveLoop = QCoreApplication::instance() != nullptr;
        QMetaObject::invokeMethod(
            context_,
            [&] {
                R r = fn();
                std::lock_guard lock(m);
                result = std::move(r);
                done = true;
                if (haveLoop)
                    QMetaObject::invokeMethod(
                        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
        const auto finished = [&] {
            std::lock_guard lock(m);
            return done;
        };
        BusyHooks& hooks = busyHooks();
        if (hooks.begin)
            hooks.begin();
        while (!finished()) {
            if (haveLoop)
                loop.exec(waitFlags);
            else
                QThread::usleep(200);
        }
        if (hooks.end)
            hooks.end();
        return result;
    }

    const QString name_;
    QThread thread_;
    QObject* context_ = nullptr;
    std::atomic<bool> open_{false};
    std::mutex stmtMutex_;
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
    bool cancelled_ = false;
};

}  // namespace

std::unique_ptr<SqlClient> makeOdbcClient() {
    return std::make_unique<OdbcClient>();
}

void setSqlBusyHooks(std::function<void()> begin, std::function<void()> end) {
    busyHooks() = {std::move(begin), std::move(end)};
}

QStringList installedOdbcDrivers() {
    QStringList names;
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return names;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLSMALLINT descLen = 0;
    SQLSMALLINT attrsLen = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
#ifdef _WIN32
    SQLWCHAR desc[512];
    SQLWCHAR attrs[2048];
    while (SQL_SUCCEEDED(SQLDriversW(env, direction, desc, SQLSMALLINT(std::size(desc)), &descLen, attrs,
                                     SQLSMALLINT(std::size(attrs)), &attrsLen))) {
        names << QString::fromWCharArray(desc);
        direction = SQL_FETCH_NEXT;
    }
#else
    SQLCHAR desc[512];
    SQLCHAR attrs[2048];
    while (SQL_SUCCEEDED(
        SQLDrivers(env, direction, desc, sizeof desc, &descLen, attrs, sizeof attrs, &attrsLen))) {
        names << QString::fromLocal8Bit(reinterpret_cast<const char*>(desc));
        direction = SQL_FETCH_NEXT;
    }
#endif
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return names;
}
