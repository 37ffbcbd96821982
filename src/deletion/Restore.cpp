// A deleted account set brought back from its undo script: the checks, the restores of the yearly
// databases, the catalogue rows in one transaction, and the verification.
#include "deletion/Restore.h"

#include "catalogue/AccountCatalogue.h"
#include "deletion/Backups.h"
#include "deletion/DeletionSql.h"
#include "deletion/DeletionText.h"
#include "deletion/Journal.h"
#include "deletion/NamedBatch.h"
#include "deletion/RestoreText.h"
#include "deletion/UndoFile.h"

namespace deletion {

namespace {

QString trimmed(const QVariant& v) {
    return AccountCatalogue::trimSpaces(v.toString());
}

QString stamp(const QVariant& v) {
    const QDateTime t = v.toDateTime();
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : trimmed(v);
}

// A GUID as the drivers hand it over: text, with or without braces, in either case.
QString guid(const QVariant& v) {
    QString g = trimmed(v).toUpper();
    if (g.startsWith(QLatin1Char('{')) && g.endsWith(QLatin1Char('}')))
        g = g.mid(1, g.size() - 2);
    return g;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A database of the script as the server knows it now.
struct Target {
    bool exists = false;
    QString state;
    QString created;
    QString family;
};

// What the server reads in one backup file.
struct BackupFacts {
    QString holds;  // DatabaseName
    QString created;
    QString family;  // FamilyGUID
    QString finished;
    qint64 bytes = 0;
    QStringList files;
};

class RestoreRun {
public:
    RestoreRun(const RestoreRequest& request, DeletionHost& host)
        : req_(request), host_(host), sql_(host.client()) {}

    RestoreOutcome go() {
        undo::ReadError unreadable;
        if (!undo::read(req_.script, &script_, &unreadable)) {
            host_.notice(text::scriptUnreadable(req_.script, unreadable.text()));
            return RestoreOutcome::Stopped;
        }
        n_ = script_.header.accountNo;
        for (const undo::Backup& b : script_.backups) {
            bool wanted = req_.only.isEmpty();
            for (const QString& db : req_.only)
                wanted = wanted || sameName(db, b.database);
            if (wanted)
                backups_ << b;
        }
        QString details;
        if (!check(&details))
            return RestoreOutcome::Stopped;
        if (toRestore_.isEmpty() && !insertRows_) {
            host_.notice(text::nothingToRestore(n_), details);
            return RestoreOutcome::Stopped;
        }
        QStringList restoring;
        for (const undo::Backup& b : toRestore_)
            restoring << b.database;
        if (!host_.confirm(text::confirmRestore(n_, restoring, insertRows_ ? script_.rowCount() : 0),
                           details))
            return RestoreOutcome::Stopped;
        // On record before the first change, as a deletion is.
        QString error;
        if (!journal_.begin(
                {QDateTime::currentDateTime(), host_.serverName(), host_.login(), n_, script_.header.years},
                &error)) {
            host_.notice(text::journalNotWritten(journal_.path(), error));
            return RestoreOutcome::Stopped;
        }
        const RestoreOutcome outcome = run();
        QStringList files;
        for (const undo::Backup& b : toRestore_)
            files << b.file;
        const Journal::Outcome word = outcome == RestoreOutcome::Restored ? Journal::Outcome::Restored
                                      : outcome == RestoreOutcome::Failed ? Journal::Outcome::RestoreFailed
                                                                          : Journal::Outcome::RestoreStopped;
        if (!journal_.complete(word, req_.script, files, &error))
            host_.notice(text::journalNotCompleted(journal_.path(), error));
        return outcome;
    }

private:
    // Nothing changes here: the server, the catalogue, the databases and the backup files are
    // checked, and the confirmation's details gathered.
    bool check(QString* details) {
        QStringList names;
        for (const undo::Backup& b : backups_)
            names << b.database;
        NamedBatch first;
        first.add(QStringLiteral("server"), QStringLiteral("select @@SERVERNAME"));
        first.add(QStringLiteral("account"), DeletionSql::accountLookup(n_));
        first.add(QStringLiteral("tables"), DeletionSql::existingTables());
        first.add(QStringLiteral("session"), DeletionSql::sessionId());
        if (!names.isEmpty())
            first.add(QStringLiteral("targets"), DeletionSql::restoreTargets(names));
        first.send(sql_);
        if (const SqlError e = first.error(); e.isError())
            return stop(text::restoreQueryFailed(), serverWords(e));
        const QString here = trimmed(first[QStringLiteral("server")].rows.value(0).value(0));
        // The script's rows and files belong to the server they were read on.
        if (here != script_.header.serverName)
            return stop(text::otherServer(script_.header.serverName, here), req_.script);
        // The restores' progress is read for this session from a second connection.
        sessionId_ = first[QStringLiteral("session")].rows.value(0).value(0).toInt();
        const SqlResult tables = first[QStringLiteral("tables")];
        for (const undo::Rows& t : script_.tables) {
            bool found = false;
            for (qsizetype i = 0; i < tables.rowCount(); ++i)
                found = found || sameName(trimmed(tables.value(i, QStringLiteral("name"))), t.name);
            if (!found)
                return stop(text::catalogueTableMissing(t.name), req_.script);
        }
        if (!judgeRows(first[QStringLiteral("account")].rowCount()))
            return false;
        const SqlResult targets = first[QStringLiteral("targets")];
        QStringList lines = text::restoreHeading(
            host_.serverName(), script_.header.serverName, n_, script_.header.years,
            script_.header.madeAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), req_.script);
        if (!backups_.isEmpty())
            lines << text::restoreBackupsHeading();
        for (const undo::Backup& b : backups_) {
            Target t;
            for (qsizetype i = 0; i < targets.rowCount(); ++i) {
                if (sameName(trimmed(targets.value(i, QStringLiteral("name"))), b.database))
                    t = {true, trimmed(targets.value(i, QStringLiteral("state_desc"))),
                         stamp(targets.value(i, QStringLiteral("create_date"))),
                         guid(targets.value(i, QStringLiteral("family_guid")))};
            }
            BackupFacts facts;
            if (!readBackup(b, &facts))
                return false;
            if (t.exists) {
                if (t.state == QLatin1String("RESTORING"))
                    return stop(text::databaseRestoring(b.database), {});
                // The database a drop left in place, or one restored from this backup already, is of
                // the backup's family; one created anew under the name is not.
                if (t.family.isEmpty() || t.family != facts.family)
                    return stop(text::databaseThereAgain(b.database, t.created, facts.created), b.file);
                lines << text::databaseKept(b.database);
                continue;
            }
            toRestore_ << b;
            lines << text::restoreBackupLine(b.database, b.file)
                  << text::restoreBackupInfo(facts.finished, facts.bytes) << facts.files;
        }
        lines << text::restoreRowsHeading(insertRows_);
        for (const undo::Rows& t : script_.tables)
            lines << text::restoreRowsLine(t.name, t.values.size());
        *details = lines.join(QLatin1Char('\n'));
        return true;
    }

    // The account set's rows now: none (they all go back), exactly the script's (a purge rolled
    // back: they stay), or others (registered again: no restore).
    bool judgeRows(qsizetype registered) {
        NamedBatch batch;
        for (const undo::Rows& t : script_.tables)
            batch.add(t.name, DeletionSql::savedRowsSummary(purgeOf(t.name)));
        batch.send(sql_);
        if (const SqlError e = batch.error(); e.isError())
            return stop(text::restoreQueryFailed(), serverWords(e));
        bool none = registered == 0;
        bool same = true;
        QStringList lines;
        for (const undo::Rows& t : script_.tables) {
            const SqlResult r = batch[t.name];
            const qint64 count = r.rows.value(0).value(0).toLongLong();
            const QVariant sum = r.rows.value(0).value(1);
            const bool sumsAgree =
                (sum.isNull() || !sum.isValid())
                    ? (t.checksum.isNull() || !t.checksum.isValid())
                    : (t.checksum.isValid() && sum.toLongLong() == t.checksum.toLongLong());
            none = none && count == 0;
            same = same && count == t.values.size() && sumsAgree;
            if (count != 0 || !t.values.isEmpty())
                lines << text::rowsNowAndThen(t.name, count, t.values.size());
        }
        if (none) {
            insertRows_ = true;
            return true;
        }
        if (same)
            return true;
        return stop(text::registeredAgain(n_, lines), req_.script);
    }

    bool readBackup(const undo::Backup& b, BackupFacts* facts) {
        NamedBatch batch;
        batch.add(QStringLiteral("header"), DeletionSql::backupHeader(b.file));
        batch.add(QStringLiteral("files"), DeletionSql::backupFileList(b.file));
        batch.send(sql_);
        SqlError e = batch.error();
        if (!e.isError())
            e = sql_.command(DeletionSql::verifyBackup(b.file));
        if (e.isError())
            return stop(text::backupUnreadable(b.database, b.file), serverWords(e));
        const SqlResult header = batch[QStringLiteral("header")];
        facts->holds = trimmed(header.value(0, QStringLiteral("DatabaseName")));
        if (!sameName(facts->holds, b.database))
            return stop(text::backupOfAnother(b.file, facts->holds, b.database), {});
        facts->created = stamp(header.value(0, QStringLiteral("DatabaseCreationDate")));
        facts->family = guid(header.value(0, QStringLiteral("FamilyGUID")));
        facts->finished = stamp(header.value(0, QStringLiteral("BackupFinishDate")));
        facts->bytes = header.value(0, QStringLiteral("BackupSize")).toLongLong();
        const SqlResult files = batch[QStringLiteral("files")];
        for (qsizetype i = 0; i < files.rowCount(); ++i)
            facts->files << text::restoreFileLine(trimmed(files.value(i, QStringLiteral("LogicalName"))),
                                                  trimmed(files.value(i, QStringLiteral("PhysicalName"))),
                                                  files.value(i, QStringLiteral("Size")).toLongLong());
        return true;
    }

    RestoreOutcome run() {
        BackupView* view = toRestore_.isEmpty() ? nullptr : host_.restoreView();
        std::unique_ptr<SqlClient> watcher = toRestore_.isEmpty() ? nullptr : host_.secondConnection();
        QStringList names;
        for (const undo::Backup& b : toRestore_)
            names << b.database;
        if (view)
            view->start(names);
        SqlError failure;
        bool cancelled = false;
        for (qsizetype i = 0; i < toRestore_.size(); ++i) {
            const undo::Backup& b = toRestore_[i];
            failure = runWatched(sql_, view, watcher.get(), sessionId_,
                                 DeletionSql::restoreDatabase(b.database, b.file, b.filesLeft), i,
                                 text::restoring(b.database));
            cancelled = view && view->cancelled();
            if (failure.isError()) {
                dropHalfRestored(b.database);
                break;
            }
            restored_ << b.database;
            if (view)
                view->progress(i, 100, text::restored(b.database));
            if (cancelled)
                break;
        }
        if (view)
            view->finish();
        watcher.reset();
        if (cancelled || failure.isError())
            return stopped(cancelled, failure);
        if (insertRows_) {
            if (const SqlError e = insertRows(); e.isError())
                return stopped(false, e);
        }
        return verify();
    }

    // A restore that did not finish leaves its database RESTORING on the server: it goes again, so
    // that nothing half-restored stays. One in any other state is not this restore's to drop.
    void dropHalfRestored(const QString& db) {
        const SqlResult now = sql_.query(DeletionSql::restoreTargets({db}));
        if (!now.ok() || now.rowCount() == 0)
            return;
        if (trimmed(now.value(0, QStringLiteral("state_desc"))) != QLatin1String("RESTORING"))
            return;
        if (sql_.command(DeletionSql::dropDatabase(db)).isError())
            halfLeft_ << db;
        else
            halfDropped_ << db;
    }

    // Every row in one batch and one transaction, after a check under lock that none of the account
    // set's rows came back meanwhile.
    SqlError insertRows() {
        QStringList statements{DeletionSql::setXactAbort(), DeletionSql::beginTransaction()};
        for (const undo::Rows& t : script_.tables)
            statements << DeletionSql::noRowsGuard(purgeOf(t.name));
        for (const undo::Rows& t : script_.tables)
            statements << undo::insertStatements(script_.header, t);
        statements << DeletionSql::commitTransaction();
        const SqlError e = firstError(sql_.batch(statements));
        if (e.isError())
            sql_.command(DeletionSql::rollbackTransaction());
        return e;
    }

    // Every row of the script counted, and every database of the request online.
    RestoreOutcome verify() {
        NamedBatch batch;
        for (const undo::Rows& t : script_.tables)
            batch.add(t.name, purgeOf(t.name).count);
        QStringList names;
        for (const undo::Backup& b : backups_)
            names << b.database;
        if (!names.isEmpty())
            batch.add(QStringLiteral("targets"), DeletionSql::restoreTargets(names));
        batch.send(sql_);
        if (const SqlError e = batch.error(); e.isError())
            return stopped(false, e, true);
        QStringList missing;
        for (const undo::Rows& t : script_.tables) {
            const qint64 n = batch[t.name].rows.value(0).value(0).toLongLong();
            if (n != t.values.size())
                missing << text::missingRows(t.name, n, t.values.size());
        }
        const SqlResult targets = batch[QStringLiteral("targets")];
        for (const QString& db : names) {
            QString state;
            for (qsizetype i = 0; i < targets.rowCount(); ++i) {
                if (sameName(trimmed(targets.value(i, QStringLiteral("name"))), db))
                    state = trimmed(targets.value(i, QStringLiteral("state_desc")));
            }
            if (state != QLatin1String("ONLINE"))
                missing << text::missingDatabase(db, state);
        }
        if (!missing.isEmpty()) {
            host_.notice(text::restoreFailed(n_) + text::verifyMissing(missing), details());
            return RestoreOutcome::Failed;
        }
        host_.notice(text::restoreSucceeded(n_, restored_, script_.rowCount(), !insertRows_), details());
        return RestoreOutcome::Restored;
    }

    RestoreOutcome stopped(bool cancelled, const SqlError& e, bool afterRows = false) {
        QString msg = cancelled ? text::restoreCancelled(n_) : text::restoreFailed(n_);
        msg += text::restoredSoFar(restored_) + text::halfRestoredDropped(halfDropped_) +
               text::halfRestoredLeft(halfLeft_);
        if (insertRows_ && !afterRows)
            msg += text::rowsNotRestored();
        QStringList why;
        if (e.isError() && !(cancelled && e.nativeCode == 0))
            why << serverWords(e);
        why << details();
        host_.notice(msg, why.join(QLatin1Char('\n')));
        const bool changed = !restored_.isEmpty() || !halfLeft_.isEmpty() || afterRows;
        return changed ? RestoreOutcome::Failed : RestoreOutcome::Stopped;
    }

    bool stop(const QString& text, const QString& details) {
        host_.notice(text, details);
        return false;
    }

    QString details() const { return QStringLiteral("撤销脚本: ") + req_.script; }

    DeletionSql::PurgeStatement purgeOf(const QString& table) const {
        for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(n_)) {
            if (p.table == table)
                return p;
        }
        return {};
    }

    const RestoreRequest& req_;
    DeletionHost& host_;
    SqlClient& sql_;
    undo::Script script_;
    QString n_;
    QList<undo::Backup> backups_;    // the script's, or those the request names
    QList<undo::Backup> toRestore_;  // those not on the server now
    Journal journal_;
    int sessionId_ = 0;
    bool insertRows_ = false;  // none of the account set's rows is in the catalogue
    QStringList restored_;
    QStringList halfDropped_;
    QStringList halfLeft_;
};

}  // namespace

RestoreOutcome restore(const RestoreRequest& request, DeletionHost& host) {
    return RestoreRun(request, host).go();
}

}  // namespace deletion
