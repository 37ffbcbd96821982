#include "deletion/Deletion.h"

#include <optional>

#include <QHash>

#include "catalogue/AccountCatalogue.h"
#include "deletion/Backups.h"
#include "deletion/DeletionChecks.h"
#include "deletion/DeletionSql.h"
#include "deletion/Journal.h"
#include "deletion/NamedBatch.h"
#include "deletion/Restore.h"
#include "deletion/RestoreText.h"
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

Journal::Outcome journalOutcome(Outcome outcome) {
    switch (outcome) {
        case Outcome::Stopped:
            return Journal::Outcome::Stopped;
        case Outcome::Succeeded:
            return Journal::Outcome::Succeeded;
        case Outcome::PartlyFailed:
            return Journal::Outcome::Partly;
        case Outcome::Failed:
            break;
    }
    return Journal::Outcome::Failed;
}

bool timedOut(const SqlError& e) {
    return e.nativeCode == checks::kLockTimedOut;
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
        if (!beginJournal())
            return Outcome::Stopped;
        const Outcome outcome = change();
        completeJournal(outcome);
        if (!restoreNow_.isEmpty())
            restore({undoPath_, restoreNow_}, host_);
        return outcome;
    }

private:
    // Stages 2 to 4, from the backups to the outcome message.
    Outcome change() {
        if (req_.deleteDatabases && !removeDatabases())
            return Outcome::Stopped;
        if (!req_.deleteDatabases && !keepWayBack({}))
            return Outcome::Stopped;
        host_.showWait();
        host_.yield();
        const std::optional<SqlError> purgeError = purge();
        host_.closeWait();
        host_.yield();
        // A purge that timed out on a lock was rolled back whole: every catalogue row is still
        // there, and counting them would wait out the same lock once more before the operator
        // learns anything. What the rollback does not settle (the dropped databases) is checked.
        const bool rolledBack = purgeError && timedOut(*purgeError);
        const Leftovers left = rolledBack ? verifyDatabases() : verify();
        // A drop that left its database in place: everyone may use it again.
        for (const QString& db : left.databases)
            sql_.command(DeletionSql::releaseDatabase(db));
        return report(purgeError, left);
    }

    // On record before anything changes: the server keeps no trace of a dropped database, and
    // nothing is destroyed without one.
    bool beginJournal() {
        const Journal::Entry entry{QDateTime::currentDateTime(), host_.serverName(), host_.login(), n_,
                                   entries_};
        QString error;
        if (journal_.begin(entry, &error))
            return true;
        host_.notice(text::journalNotWritten(journal_.path(), error));
        return false;
    }

    void completeJournal(Outcome outcome) {
        QStringList files;
        for (const undo::Backup& b : backups_.made())
            files << b.file;
        QString error;
        if (!journal_.complete(journalOutcome(outcome), undoPath_, files, &error))
            host_.notice(text::journalNotCompleted(journal_.path(), error));
    }

    // Stage 1: the number, the look-up and the confirmations. Nothing changes on the server here.
    bool request() {
        if (n_.isEmpty()) {
            host_.notice(text::enterAccountNumber());
            return false;
        }
        // The look-up and the table list in one round trip: the list decides what the preview
        // counts, and every stage after it works on this one reading.
        NamedBatch first;
        first.add(QStringLiteral("account"), DeletionSql::accountLookup(n_));
        first.add(QStringLiteral("tables"), DeletionSql::existingTables());
        first.send(sql_);
        account_ = first[QStringLiteral("account")];
        if (!account_.ok())
            return stopOnQueryFailure(account_.error);
        if (account_.rowCount() == 0) {
            host_.notice(text::accountMissing(n_));
            return false;
        }
        tables_ = first[QStringLiteral("tables")];
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
            host_.notice(text::lockWaitStopped(lockHolders()), serverWords(e));
        else
            host_.notice(text::queryFailed(), serverWords(e));
        return false;
    }

    QString lockHolders() {
        const DeletionSql::LockHolders holders = DeletionSql::lockHolders();
        NamedBatch batch;
        batch.add(QStringLiteral("open transactions"), holders.openTransactions);
        batch.add(QStringLiteral("locking"), holders.locking);
        batch.send(sql_);
        return checks::lockHolderLines(batch[QStringLiteral("open transactions")],
                                       batch[QStringLiteral("locking")]);
    }

    // The catalogue tables this installation has, in purge order, from the one reading of the list.
    // A reading that failed is made again when a later stage needs the list: nothing has changed
    // on the server yet then.
    QStringList existingTables() {
        if (!tables_.ok())
            tables_ = sql_.query(DeletionSql::existingTables());
        QStringList out;
        if (!tables_.ok())
            return out;
        for (const QString& table : DeletionSql::purgeTables()) {
            if (hasTable(tables_, table))
                out << table;
        }
        return out;
    }

    // What the deletion will remove, for the first confirmation's details: every count and every
    // database's size, state and sessions in one batch. Read-only; a query that fails only leaves
    // a gap in the list, the stages below check again.
    QString preview() {
        QStringList lines{text::previewHeading(n_)};
        if (!tables_.ok())
            lines << text::previewUnqueried(serverWords(tables_.error));
        if (timedOut(tables_.error))
            previewError_ = tables_.error;
        NamedBatch batch;
        QStringList counted;
        for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(n_)) {
            if (!tables_.ok() || !hasTable(tables_, p.table))
                continue;
            counted << p.table;
            // The registration rows are the look-up's, read a moment ago.
            if (!DeletionSql::isRegistrationTable(p.table))
                batch.add(QStringLiteral("count ") + p.table, p.count);
        }
        QStringList dbs;
        if (req_.deleteDatabases) {
            for (const QString& year : req_.years.entries())
                dbs << DeletionSql::databaseName(n_, year);
        }
        for (const QString& db : dbs) {
            batch.add(QStringLiteral("size ") + db, DeletionSql::databaseSize(db));
            batch.add(QStringLiteral("state ") + db, DeletionSql::databaseState(db));
        }
        if (!dbs.isEmpty()) {
            batch.add(QStringLiteral("sessions"), DeletionSql::databaseSessions(dbs));
            backups_.addPreview(batch, dbs);
        }
        batch.send(sql_);
        // A count that waited out the lock time-out would wait again in the purge: stop here.
        if (const SqlError e = batch.firstFailure(); timedOut(e))
            previewError_ = e;

        for (const QString& table : counted) {
            if (DeletionSql::isRegistrationTable(table)) {
                lines << text::previewCount(table, QString::number(account_.rowCount()));
                continue;
            }
            const SqlResult count = batch[QStringLiteral("count ") + table];
            lines << (count.ok() && count.rowCount() == 1
                          ? text::previewCount(table, count.rows[0].value(0).toString())
                          : text::previewCountUnqueried(table, serverWords(count.error)));
        }
        if (!req_.deleteDatabases)
            return lines.join(QLatin1Char('\n'));
        lines << text::previewDatabasesHeading();
        if (dbs.isEmpty())
            lines << text::previewNoYears();
        const SqlResult sessions = batch[QStringLiteral("sessions")];
        QStringList offline;
        for (const QString& db : dbs) {
            const SqlResult size = batch[QStringLiteral("size ") + db];
            const SqlResult state = batch[QStringLiteral("state ") + db];
            backups_.noteSize(db, size);
            lines << text::previewDatabase(db, size, state, sessions);
            if (state.ok() && state.rowCount() == 1 &&
                state.rows[0].value(0).toString() == QLatin1String("OFFLINE"))
                offline << db;
        }
        if (!offline.isEmpty())
            lines << text::offlinePreview(offline);
        if (!dbs.isEmpty())
            lines << backups_.readPreview(batch);
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
        const DeletionSql::DatabaseHazards hazards =
            DeletionSql::databaseHazards(names, major == 0 || major >= 11);
        NamedBatch batch;
        batch.add(QStringLiteral("databases"), hazards.databases);
        batch.add(QStringLiteral("snapshots"), hazards.snapshots);
        batch.add(QStringLiteral("mirroring"), hazards.mirroring);
        batch.add(QStringLiteral("sessions"), DeletionSql::databaseSessions(names));
        batch.send(sql_);
        if (const SqlError e = batch.error(); e.isError())
            return stopOnQueryFailure(e);
        const SqlResult sessions = batch[QStringLiteral("sessions")];
        const checks::DatabaseStates states =
            checks::judge(names,
                          {batch[QStringLiteral("databases")], batch[QStringLiteral("snapshots")],
                           batch[QStringLiteral("mirroring")]},
                          sessions);
        if (!states.hazards.isEmpty()) {
            QStringList lines;
            QStringList raw;
            for (const checks::Hazard& h : states.hazards) {
                lines << text::hazardLine(h.database, h.reasons);
                raw << text::hazardDetails(h.database, h.raw);
            }
            host_.notice(text::databasesUnsafe(lines), raw.join(QLatin1Char('\n')));
            return false;
        }
        if (sessions.rowCount() > 0) {
            host_.notice(text::databasesInUse(checks::sessionsByDatabase(sessions)));
            return false;
        }
        offline_ = states.offline;
        readOfflineFiles();
        return true;
    }

    // Where each OFFLINE database keeps its files, while the server still knows: the drop leaves
    // them, and the operator must be able to find them. A failed read only loses the paths.
    void readOfflineFiles() {
        if (offline_.isEmpty())
            return;
        const SqlResult files = sql_.query(DeletionSql::databaseFiles(offline_));
        for (qsizetype i = 0; files.ok() && i < files.rowCount(); ++i) {
            offlineFiles_[field(files, i, QStringLiteral("dbname")).toLower()]
                << files.value(i, QStringLiteral("physical_name")).toString();
        }
    }

    // The way back, before the first change: the backups when chosen, then the undo script.
    bool keepWayBack(const QStringList& databases) {
        if (!backups_.run(databases))
            return false;
        const UndoCapture capture{host_.serverName(), n_, entries_, backups_.made()};
        const QStringList tables = existingTables();
        QString error = serverWords(tables_.error);
        if (tables_.ok() && capture.save(sql_, tables, &undoPath_, &error, &saved_))
            return true;
        undoPath_.clear();
        host_.notice(text::undoNotSaved(),
                     (QStringList{undoFolder(), error} + wayBack()).join(QLatin1Char('\n')));
        return false;
    }

    // Where the way back is, for every message after the first change.
    QStringList wayBack() const { return text::wayBack(undoPath_, backups_.made()); }

    // Stage 3: every delete of a table that exists, in one batch and one transaction, so no
    // transaction stays open across a round trip. The first failure rolls back all of it.
    std::optional<SqlError> purge() {
        QStringList statements{DeletionSql::setXactAbort(), DeletionSql::beginTransaction()};
        for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(n_)) {
            if (!hasTable(tables_, p.table))
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
            lockHolders_ = lockHolders();
        // With XACT_ABORT the server has usually rolled back already; the explicit rollback covers
        // errors that end the batch but leave the transaction open: compile errors such as an
        // unknown name are not affected by XACT_ABORT
        // (https://learn.microsoft.com/en-us/sql/t-sql/statements/set-xact-abort-transact-sql).
        // Its own failure ("no transaction") is expected and ignored.
        sql_.command(DeletionSql::rollbackTransaction());
        return e;
    }

    // The registration row, every other catalogue table that exists and every dropped database,
    // in one batch: success needs all of them gone. The registration row is looked up again
    // because the purge has just deleted it.
    Leftovers verify() {
        NamedBatch batch;
        batch.add(QStringLiteral("account"), DeletionSql::accountVerification(n_));
        QStringList counted;
        for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(n_)) {
            if (hasTable(tables_, p.table) && !DeletionSql::isRegistrationTable(p.table)) {
                batch.add(QStringLiteral("count ") + p.table, p.count);
                counted << p.table;
            }
        }
        if (!dropped_.isEmpty())
            batch.add(QStringLiteral("listed"), DeletionSql::databasesListed(dropped_));
        batch.send(sql_);
        Leftovers left;
        left.error = batch.error();
        if (left.error.isError())
            return left;
        for (const QString& table : counted) {
            const SqlResult count = batch[QStringLiteral("count ") + table];
            const qint64 n = count.rowCount() == 1 ? count.rows[0].value(0).toLongLong() : 0;
            if (n != 0)
                left.rows << text::leftoverRows(table, n);
        }
        if (const SqlResult account = batch[QStringLiteral("account")]; account.rowCount() > 0)
            left.rows << text::leftoverRows(QStringLiteral("UA_account"), account.rowCount());
        const SqlResult listed = batch[QStringLiteral("listed")];
        for (qsizetype i = 0; i < listed.rowCount(); ++i)
            left.databases << field(listed, i, QStringLiteral("name"));
        return left;
    }

    // After a purge rolled back whole: only whether the dropped databases are gone.
    Leftovers verifyDatabases() {
        Leftovers left;
        if (dropped_.isEmpty())
            return left;
        const SqlResult listed = sql_.query(DeletionSql::databasesListed(dropped_));
        left.error = listed.error;
        for (qsizetype i = 0; listed.ok() && i < listed.rowCount(); ++i)
            left.databases << field(listed, i, QStringLiteral("name"));
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
            reasons << text::reason(f.database, serverWords(f.error));
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
            failureNotice(text::partlyFailed(n_, failedNames(), gone) + offlineNote(),
                          (reasons + wayBack()).join(QLatin1Char('\n')), gone);
            return Outcome::PartlyFailed;
        }
        const bool changed = purgeError && purgeError->nativeCode == DeletionSql::kChangedSinceSaved;
        QString msg = changed ? text::changedSinceScript(n_, purgeError->message) : text::failure();
        if (purgeError && timedOut(*purgeError))
            msg += text::purgeLockRolledBack(lockHolders_);
        // A purge stopped by the comparison left every row there, as it should: no list of them.
        QStringList still = changed ? QStringList{} : left.rows;
        for (const QString& db : left.databases)
            still << text::leftoverDatabase(db);
        if (!still.isEmpty())
            msg += text::stillThere(still);
        msg += droppedLines(gone);
        if (!failedDrops_.isEmpty())
            msg += text::notDropped(failedNames());
        failureNotice(msg + offlineNote(), (reasons + wayBack()).join(QLatin1Char('\n')), gone);
        return Outcome::Failed;
    }

    // A failure after a drop: the box offers to bring the dropped databases back from their
    // backups at once, with the undo script just written. The restore runs once the journal's line
    // for this deletion is complete.
    void failureNotice(const QString& text, const QString& details, const QStringList& gone) {
        QStringList backedUp;
        for (const QString& db : gone) {
            for (const undo::Backup& b : backups_.made()) {
                if (b.database.compare(db, Qt::CaseInsensitive) == 0)
                    backedUp << b.database;
            }
        }
        if (backedUp.isEmpty() || undoPath_.isEmpty()) {
            host_.notice(text, details);
            return;
        }
        if (host_.noticeWithAction(text, details, text::restoreNow()))
            restoreNow_ = backedUp;
    }

    QString offlineNote() const {
        QList<QPair<QString, QStringList>> left;
        for (const QString& db : dropped_) {
            if (offline_.contains(db))
                left.append({db, offlineFiles_.value(db.toLower())});
        }
        return text::offlineNote(left);
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
                kept << text::droppedBackupLine(db, file);
        }
        QString out;
        if (!kept.isEmpty())
            out += text::droppedWithBackups(kept, undoPath_);
        if (!lost.isEmpty())
            out += text::droppedForGood(lost);
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
    SqlResult account_;      // the look-up's rows: the registration row as the request found it
    SqlResult tables_;       // which catalogue tables exist, read once for every stage
    SqlError previewError_;  // the preview waited out a lock
    QStringList offline_;    // listed databases that were OFFLINE at the check
    QHash<QString, QStringList> offlineFiles_;  // their files (lower-case name -> paths)
    QString lockHolders_;                       // who held the lock the purge waited for
    Backups backups_{sql_, host_};
    QString undoPath_;
    QStringList restoreNow_;  // the dropped databases the operator asked back at once
    QList<SavedRows> saved_;  // what the undo script holds of each table
    Journal journal_;
};

}  // namespace

Outcome run(const Request& request, DeletionHost& host) {
    return Run(request, host).go();
}

}  // namespace deletion
