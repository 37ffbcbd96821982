#include "deletion/Deletion.h"

#include <optional>

#include "catalogue/AccountCatalogue.h"
#include "deletion/Backups.h"
#include "deletion/DeletionChecks.h"
#include "deletion/DeletionSql.h"
#include "deletion/UndoCapture.h"

namespace deletion {

namespace {

QString field(const SqlResult& r, qsizetype row, const QString& column) {
    return AccountCatalogue::trimSpaces(r.value(row, column).toString());
}

bool hasTable(const SqlResult& tables, const QString& table) {
    for (qsizetype i = 0; i < tables.rowCount(); ++i) {
        if (field(tables, i, QStringLiteral("name")).compare(table, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool timedOut(const SqlError& e) {
    return e.nativeCode == checks::kLockTimedOut;
}

QString databaseSummary(const QString& db, const SqlResult& size, const SqlResult& state,
                        const SqlResult& sessions) {
    if (!size.ok())
        return QStringLiteral("%1: (无法查询: %2)").arg(db, serverWords(size.error));
    const QVariant pages = size.rowCount() == 1 ? size.rows[0].value(0) : QVariant();
    if (!pages.isValid() || pages.isNull())
        return db + QStringLiteral(": 不存在");
    QStringList parts;
    parts << QString::number(pages.toLongLong() * 8.0 / 1024.0, 'f', 1) + QStringLiteral(" MB");
    const QString status =
        state.ok() && state.rowCount() == 1 ? state.rows[0].value(0).toString() : QString();
    if (status.isEmpty())
        parts << QStringLiteral("状态未知");
    else if (status == QLatin1String("ONLINE"))
        parts << status;
    else
        parts << status + QStringLiteral("(注意: 数据库未联机)");
    const QStringList using_ = checks::sessionsOf(sessions, db);
    if (!sessions.ok())
        parts << QStringLiteral("连接未知");
    else if (using_.isEmpty())
        parts << QStringLiteral("无其他连接");
    else
        parts << QStringLiteral("%1 个连接: ").arg(using_.size()) + using_.join(QStringLiteral("; "));
    return db + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

struct FailedDrop {
    QString database;
    SqlError error;
};

// What the verification found still on the server.
struct Leftovers {
    SqlError error;         // the verification itself could not run
    QStringList rows;       // "table: n 行"
    QStringList databases;  // dropped, yet still listed
    bool none() const { return !error.isError() && rows.isEmpty() && databases.isEmpty(); }
};

class Run {
public:
    Run(const Request& request, DeletionHost& host)
        : req_(request), host_(host), sql_(host.client()), n_(request.accountNo) {}

    Outcome go() {
        if (!request())
            return Outcome::Stopped;
        if (req_.deleteDatabases && !removeDatabases())
            return Outcome::Stopped;
        if (!req_.deleteDatabases && !keepWayBack({}))
            return Outcome::Stopped;
        host_.showWait();
        host_.yield();
        const SqlResult tables = sql_.query(DeletionSql::existingTables());
        const std::optional<SqlError> purgeError = purge(tables);
        host_.closeWait();
        host_.yield();
        const Leftovers left = verify(tables);
        // A drop that left its database in place: everyone may use it again.
        for (const QString& db : left.databases)
            sql_.command(DeletionSql::releaseDatabase(db));
        return report(purgeError, left);
    }

private:
    // Stage 1: the number, the look-up and the confirmations. Nothing changes on the server here.
    bool request() {
        if (n_.isEmpty()) {
            host_.notice(text::enterAccountNumber());
            return false;
        }
        const SqlResult found = sql_.query(DeletionSql::accountLookup(n_));
        if (!found.ok())
            return stopOnQueryFailure(found.error);
        if (found.rowCount() == 0) {
            host_.notice(text::accountMissing(n_));
            return false;
        }
        const QString details = preview();
        if (previewError_.isError())
            return stopOnQueryFailure(previewError_);
        if (!host_.confirm(text::confirmAccount(n_), details))
            return false;
        if (!req_.deleteDatabases)
            return true;
        if (!backups_.confirm(text::confirmDatabases(n_))) {
            host_.notice(text::cancelled());
            return false;
        }
        entries_ = req_.years.entries();
        if (entries_.isEmpty()) {
            host_.notice(text::enterYears());
            return false;
        }
        return true;
    }

    // A time-out names who holds the lock, asked at once: the holder may end any moment.
    bool stopOnQueryFailure(const SqlError& e) {
        if (timedOut(e))
            host_.notice(
                text::lockWaitStopped(checks::lockHolderLines(sql_.batch(DeletionSql::lockHolders()))),
                serverWords(e));
        else
            host_.notice(text::queryFailed(), serverWords(e));
        return false;
    }

    // What the deletion will remove, for the first confirmation's details: the table list, then
    // every count and every database's size, state and sessions in one batch. Read-only; a query
    // that fails only leaves a gap in the list, the stages below check again.
    QString preview() {
        QStringList lines{QStringLiteral("将从系统数据库TqSystem中删除帐套%1的记录:").arg(n_)};
        QStringList statements;
        QStringList counted;
        const SqlResult tables = sql_.query(DeletionSql::existingTables());
        if (!tables.ok())
            lines << QStringLiteral("    (无法查询: %1)").arg(serverWords(tables.error));
        if (timedOut(tables.error))
            previewError_ = tables.error;
        for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(n_)) {
            if (tables.ok() && hasTable(tables, p.table)) {
                statements << p.count;
                counted << p.table;
            }
        }
        QStringList dbs;
        if (req_.deleteDatabases) {
            for (const QString& year : req_.years.entries())
                dbs << DeletionSql::databaseName(n_, year);
        }
        for (const QString& db : dbs)
            statements << DeletionSql::databaseSize(db) << DeletionSql::databaseState(db);
        if (!dbs.isEmpty())
            statements << DeletionSql::databaseSessions(dbs);
        const qsizetype backupFacts = statements.size();
        if (!dbs.isEmpty())
            statements << backups_.previewStatements(dbs);
        const QList<SqlResult> results = statements.isEmpty() ? QList<SqlResult>{} : sql_.batch(statements);
        // A count that waited out the lock time-out would wait again in the purge: stop here.
        if (const SqlError e = firstError(results); timedOut(e))
            previewError_ = e;

        for (qsizetype i = 0; i < counted.size(); ++i) {
            const SqlResult count = resultAt(results, i);
            lines
                << (count.ok() && count.rowCount() == 1
                        ? QStringLiteral("    %1: %2 行").arg(counted[i], count.rows[0].value(0).toString())
                        : QStringLiteral("    %1: (无法查询: %2)").arg(counted[i], serverWords(count.error)));
        }
        if (!req_.deleteDatabases)
            return lines.join(QLatin1Char('\n'));
        lines << QStringLiteral("将删除的年度数据库:");
        if (dbs.isEmpty())
            lines << QStringLiteral("    (未填写年度)");
        const qsizetype base = counted.size();
        const SqlResult sessions = resultAt(results, base + 2 * dbs.size());
        QStringList offline;
        for (qsizetype k = 0; k < dbs.size(); ++k) {
            backups_.noteSize(dbs[k], resultAt(results, base + 2 * k));
            const SqlResult state = resultAt(results, base + 2 * k + 1);
            lines << QStringLiteral("    ") +
                         databaseSummary(dbs[k], resultAt(results, base + 2 * k), state, sessions);
            if (state.ok() && state.rowCount() == 1 &&
                state.rows[0].value(0).toString() == QLatin1String("OFFLINE"))
                offline << dbs[k];
        }
        if (!offline.isEmpty())
            lines << text::offlinePreview(offline);
        if (!dbs.isEmpty())
            lines << backups_.readPreview(results, backupFacts);
        return lines.join(QLatin1Char('\n'));
    }

    // Stage 2: every database must exist and be free before the first one is dropped.
    bool removeDatabases() {
        QStringList names;
        for (const QString& year : entries_) {
            const QString db = DeletionSql::databaseName(n_, year);
            const SqlResult r = sql_.query(DeletionSql::databaseExists(db));
            if (!r.ok())
                return stopOnQueryFailure(r.error);
            if (r.rowCount() != 1) {
                host_.notice(text::databaseMissing(n_, year));
                return false;
            }
            names << db;
        }
        if (!safeToDrop(names))
            return false;
        // BACKUP refuses an OFFLINE database: stop before the first backup rather than at it.
        if (backups_.chosen() && !offline_.isEmpty()) {
            host_.notice(text::offlineNotBackedUp(offline_));
            return false;
        }
        if (!keepWayBack(names) || !claim(names))
            return false;
        host_.yield();
        for (const QString& db : names) {
            const SqlError e = sql_.command(DeletionSql::dropDatabase(db));
            if (e.isError()) {
                failedDrops_.append({db, e});
                // Still there: everyone may use it again.
                if (!offline_.contains(db))
                    sql_.command(DeletionSql::releaseDatabase(db));
            } else {
                dropped_ << db;
            }
            host_.yield();
        }
        return true;
    }

    // Right after the backups, which can take long: no one may be in a listed database, and each is
    // claimed for this session until its drop, so that no one comes in between. A claim that fails
    // gives the others back and drops nothing. An OFFLINE database has no one in it to keep out.
    bool claim(const QStringList& names) {
        const SqlResult sessions = sql_.query(DeletionSql::databaseSessions(names));
        if (!sessions.ok())
            return stopOnQueryFailure(sessions.error);
        if (sessions.rowCount() > 0) {
            host_.notice(text::databasesInUse(checks::sessionsByDatabase(sessions)),
                         wayBack().join(QLatin1Char('\n')));
            return false;
        }
        QStringList claimed;
        for (const QString& db : names) {
            if (offline_.contains(db))
                continue;
            const SqlError e = sql_.command(DeletionSql::claimDatabase(db));
            if (!e.isError()) {
                claimed << db;
                continue;
            }
            for (const QString& c : claimed)
                sql_.command(DeletionSql::releaseDatabase(c));
            const SqlResult now = sql_.query(DeletionSql::databaseSessions(names));
            host_.notice(text::claimFailed(db, checks::sessionsByDatabase(now)),
                         (QStringList{serverWords(e)} + wayBack()).join(QLatin1Char('\n')));
            return false;
        }
        return true;
    }

    // One batch for the state, the hazards and the sessions of every listed database: a hazard or
    // a session stops the request before the first drop.
    bool safeToDrop(const QStringList& names) {
        const SqlResult version = sql_.query(DeletionSql::serverVersion());
        if (!version.ok())
            return stopOnQueryFailure(version.error);
        // replica_id arrived with 2012 (11); 2008 R2 (10) has no availability groups.
        const int major = checks::majorVersion(version);
        QStringList statements = DeletionSql::databaseHazards(names, major == 0 || major >= 11);
        statements << DeletionSql::databaseSessions(names);
        const QList<SqlResult> results = sql_.batch(statements);
        for (qsizetype i = 0; i < statements.size(); ++i) {
            if (const SqlResult r = resultAt(results, i); !r.ok())
                return stopOnQueryFailure(r.error);
        }
        const SqlResult& sessions = results[statements.size() - 1];
        const checks::DatabaseStates states = checks::judge(names, results.mid(0, 3), sessions);
        if (!states.hazards.isEmpty()) {
            QStringList lines;
            QStringList raw;
            for (const checks::Hazard& h : states.hazards) {
                lines << QStringLiteral("数据库%1: ").arg(h.database) + h.reasons.join(QStringLiteral("; "));
                raw << h.database + QStringLiteral(": ") + h.raw;
            }
            host_.notice(text::databasesUnsafe(lines), raw.join(QLatin1Char('\n')));
            return false;
        }
        if (sessions.rowCount() > 0) {
            host_.notice(text::databasesInUse(checks::sessionsByDatabase(sessions)));
            return false;
        }
        offline_ = states.offline;
        return true;
    }

    // The way back, before the first change: the backups when chosen, then the undo script.
    bool keepWayBack(const QStringList& databases) {
        if (!backups_.run(databases))
            return false;
        const UndoCapture capture{host_.serverName(), n_, entries_, backups_.made()};
        QString error;
        if (capture.save(sql_, &undoPath_, &error, &saved_))
            return true;
        undoPath_.clear();
        host_.notice(QStringLiteral("无法保存撤销脚本,删除操作已停止,没有删除任何数据!"),
                     (QStringList{undoFolder(), error} + wayBack()).join(QLatin1Char('\n')));
        return false;
    }

    // Where the way back is, for every message after the first change.
    QStringList wayBack() const {
        QStringList out;
        if (!undoPath_.isEmpty())
            out << QStringLiteral("撤销脚本: ") + undoPath_;
        if (!backups_.made().isEmpty())
            out << QStringLiteral("备份文件(服务器上):");
        for (const undo::Backup& b : backups_.made())
            out << QStringLiteral("    ") + b.file;
        return out;
    }

    // Stage 3: every delete of a table that exists, in one batch and one transaction, so no
    // transaction stays open across a round trip. The first failure rolls back all of it.
    std::optional<SqlError> purge(const SqlResult& tables) {
        if (!tables.ok())
            return tables.error;
        QStringList statements{DeletionSql::setXactAbort(), DeletionSql::beginTransaction()};
        for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(n_)) {
            if (!hasTable(tables, p.table))
                continue;
            // A table the script does not hold counts as saved empty: any row there stops the purge.
            SavedRows held{p.table, 0, {}};
            for (const SavedRows& s : saved_) {
                if (s.table.compare(p.table, Qt::CaseInsensitive) == 0)
                    held = s;
            }
            statements << DeletionSql::savedRowsGuard(p, held.count, held.checksum) << p.statement;
        }
        statements << DeletionSql::commitTransaction();
        const SqlError e = firstError(sql_.batch(statements));
        if (!e.isError())
            return std::nullopt;
        if (timedOut(e))
            lockHolders_ = checks::lockHolderLines(sql_.batch(DeletionSql::lockHolders()));
        // With XACT_ABORT the server has usually rolled back already; the explicit rollback covers
        // errors that end the batch but leave the transaction open: compile errors such as an
        // unknown name are not affected by XACT_ABORT
        // (https://learn.microsoft.com/en-us/sql/t-sql/statements/set-xact-abort-transact-sql).
        // Its own failure ("no transaction") is expected and ignored.
        sql_.command(DeletionSql::rollbackTransaction());
        return e;
    }

    // The registration row, every other catalogue table that exists and every dropped database,
    // in one batch: success needs all of them gone.
    Leftovers verify(const SqlResult& tables) {
        QStringList statements{DeletionSql::accountVerification(n_)};
        QStringList counted;
        for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(n_)) {
            if (tables.ok() && hasTable(tables, p.table) &&
                p.table.compare(QStringLiteral("UA_account"), Qt::CaseInsensitive) != 0) {
                statements << p.count;
                counted << p.table;
            }
        }
        if (!dropped_.isEmpty())
            statements << DeletionSql::databasesListed(dropped_);
        const QList<SqlResult> results = sql_.batch(statements);
        Leftovers left;
        for (qsizetype i = 0; i < statements.size() && !left.error.isError(); ++i)
            left.error = resultAt(results, i).error;
        if (left.error.isError())
            return left;
        for (qsizetype i = 0; i < counted.size(); ++i) {
            const qint64 n =
                results[i + 1].rowCount() == 1 ? results[i + 1].rows[0].value(0).toLongLong() : 0;
            if (n != 0)
                left.rows << QStringLiteral("%1: %2 行").arg(counted[i]).arg(n);
        }
        if (results[0].rowCount() > 0)
            left.rows << QStringLiteral("UA_account: %1 行").arg(results[0].rowCount());
        if (!dropped_.isEmpty()) {
            const SqlResult& listed = results[statements.size() - 1];
            for (qsizetype i = 0; i < listed.rowCount(); ++i)
                left.databases << field(listed, i, QStringLiteral("name"));
        }
        return left;
    }

    // Stage 4: the outcome, with everything that is still there named.
    Outcome report(const std::optional<SqlError>& purgeError, const Leftovers& left) {
        QStringList reasons;
        if (purgeError)
            reasons << serverWords(*purgeError);
        if (left.error.isError())
            reasons << serverWords(left.error);
        for (const FailedDrop& f : failedDrops_)
            reasons << f.database + QStringLiteral(": ") + serverWords(f.error);
        QStringList gone;
        for (const QString& db : dropped_) {
            if (!left.databases.contains(db, Qt::CaseInsensitive))
                gone << db;
        }

        if (!purgeError && left.none()) {
            if (failedDrops_.isEmpty()) {
                host_.notice((req_.deleteDatabases ? text::successWithYears(n_, req_.years.text())
                                                   : text::successEmpty(n_)) +
                                 offlineNote(),
                             wayBack().join(QLatin1Char('\n')));
                return Outcome::Succeeded;
            }
            QString msg = QStringLiteral("帐套%1已从系统数据库中删除,但以下年度数据库未能删除:\n").arg(n_) +
                          failedNames().join(QLatin1Char('\n'));
            if (!gone.isEmpty())
                msg += QStringLiteral("\n已删除的年度数据库:\n") + gone.join(QLatin1Char('\n'));
            host_.notice(msg + offlineNote(), (reasons + wayBack()).join(QLatin1Char('\n')));
            return Outcome::PartlyFailed;
        }
        const bool changed = purgeError && purgeError->nativeCode == DeletionSql::kChangedSinceSaved;
        QString msg = changed ? text::changedSinceScript(n_, purgeError->message) : text::failure();
        if (purgeError && timedOut(*purgeError))
            msg += QStringLiteral("\n等待其他会话释放锁超时,系统数据库中的删除已全部撤销。\n") + lockHolders_;
        // A purge stopped by the comparison left every row there, as it should: no list of them.
        QStringList still = changed ? QStringList{} : left.rows;
        for (const QString& db : left.databases)
            still << QStringLiteral("数据库") + db;
        if (!still.isEmpty())
            msg += QStringLiteral("\n以下内容仍在服务器上:\n") + still.join(QLatin1Char('\n'));
        msg += droppedLines(gone);
        if (!failedDrops_.isEmpty())
            msg += QStringLiteral("\n以下年度数据库未能删除:\n") + failedNames().join(QLatin1Char('\n'));
        host_.notice(msg + offlineNote(), (reasons + wayBack()).join(QLatin1Char('\n')));
        return Outcome::Failed;
    }

    // A database dropped while OFFLINE leaves its files behind:
    // https://learn.microsoft.com/sql/t-sql/statements/drop-database-transact-sql
    QString offlineNote() const {
        QStringList left;
        for (const QString& db : dropped_) {
            if (offline_.contains(db))
                left << db;
        }
        if (left.isEmpty())
            return {};
        return QStringLiteral(
                   "\n注意: 以下数据库删除时处于脱机状态(OFFLINE),其数据文件仍留在服务器的磁盘上,"
                   "需要手工删除:\n") +
               left.join(QLatin1Char('\n'));
    }

    // The databases dropped before a failure: those with a verified backup come back with it and the
    // undo script; only one without a backup is lost.
    QString droppedLines(const QStringList& gone) const {
        QStringList kept;
        QStringList lost;
        for (const QString& db : gone) {
            QString file;
            for (const undo::Backup& b : backups_.made()) {
                if (b.database.compare(db, Qt::CaseInsensitive) == 0)
                    file = b.file;
            }
            if (file.isEmpty())
                lost << db;
            else
                kept << db + QStringLiteral(" (备份: ") + file + QLatin1Char(')');
        }
        QString out;
        if (!kept.isEmpty())
            out += text::droppedWithBackups(kept, undoPath_);
        if (!lost.isEmpty())
            out += QStringLiteral("\n以下年度数据库已删除,无法恢复:\n") + lost.join(QLatin1Char('\n'));
        return out;
    }

    QStringList failedNames() const {
        QStringList out;
        for (const FailedDrop& f : failedDrops_)
            out << f.database;
        return out;
    }

    const Request& req_;
    DeletionHost& host_;
    SqlClient& sql_;
    const QString n_;
    QStringList entries_;
    QStringList dropped_;
    QList<FailedDrop> failedDrops_;
    SqlError previewError_;  // the preview waited out a lock
    QStringList offline_;    // listed databases that were OFFLINE at the check
    QString lockHolders_;    // who held the lock the purge waited for
    Backups backups_{sql_, host_};
    QString undoPath_;
    QList<SavedRows> saved_;  // what the undo script holds of each table
};

}  // namespace

Outcome run(const Request& request, DeletionHost& host) {
    return Run(request, host).go();
}

}  // namespace deletion
