// Verified backups of the yearly databases before the first drop, watched from a second connection.
#include "deletion/Backups.h"

#include <QCoreApplication>
#include <QTimer>

#include "deletion/DeletionSql.h"
#include "deletion/DeletionText.h"

namespace deletion {

namespace {

QVariant single(const SqlResult& r) {
    return r.ok() && r.rowCount() == 1 && !r.rows[0].isEmpty() ? r.rows[0].value(0) : QVariant();
}

}  // namespace

QString backupFile(const QString& directory, const QString& db, const QDateTime& at) {
    const QChar sep = directory.contains(QLatin1Char('\\')) || !directory.contains(QLatin1Char('/'))
                          ? QLatin1Char('\\')
                          : QLatin1Char('/');
    QString dir = directory;
    if (!dir.endsWith(sep))
        dir += sep;
    return dir + db + QLatin1Char('_') + at.toString(QStringLiteral("yyyyMMdd_HHmmss")) +
           QStringLiteral(".bak");
}

void Backups::addPreview(NamedBatch& batch, const QStringList& databases) {
    databases_ = databases;
    batch.add(QStringLiteral("backup session"), DeletionSql::sessionId());
    for (const QString& db : databases)
        batch.add(QStringLiteral("last backup ") + db, DeletionSql::lastFullBackup(db));
}

void Backups::noteSize(const QString& database, const SqlResult& pages) {
    const QVariant v = single(pages);
    sizes_[database] = v.isValid() && !v.isNull() ? text::megabytes(v.toLongLong()) : text::sizeUnknown();
}

QStringList Backups::readPreview(const NamedBatch& batch) {
    sessionId_ = single(batch[QStringLiteral("backup session")]).toInt();
    QStringList lines{text::lastFullBackupHeading()};
    for (qsizetype k = 0; k < databases_.size(); ++k) {
        const SqlResult r = batch[QStringLiteral("last backup ") + databases_[k]];
        const QVariant when = single(r);
        QString state;
        if (!r.ok())
            state = text::unqueried(serverWords(r.error));
        else if (!when.isValid() || when.isNull())
            state = text::neverBackedUp();
        else
            state = when.toDateTime().isValid()
                        ? when.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                        : when.toString();
        lines << text::lastFullBackup(databases_[k], state);
    }
    return lines;
}

// The folder is asked on its own, not in the first confirmation's batch: a server that does not
// know one of the two ways must not cost the operator the rest of the details.
bool Backups::confirm(const QString& text) {
    directory_ = single(sql_.query(DeletionSql::defaultBackupDirectory())).toString().trimmed();
    if (directory_.isEmpty()) {
        const SqlResult r = sql_.query(DeletionSql::registryBackupDirectory());
        if (r.ok() && r.rowCount() == 1)
            directory_ = r.value(0, QStringLiteral("Data")).toString().trimmed();
    }
    QStringList details{text::backupDirectory(directory_)};
    for (const QString& db : databases_)
        details << text::backupSize(db, sizes_.value(db, text::sizeUnknown()));
    chosen_ = true;
    return host_.confirmWithCheck(text, details.join(QLatin1Char('\n')), text::backupCheck(), &chosen_);
}

bool Backups::run(const QStringList& databases) {
    if (!chosen_ || databases.isEmpty())
        return true;
    if (directory_.isEmpty())
        return stop(text::backupDirectoryUnknown(), {});
    if (sessionId_ <= 0)
        sessionId_ = single(sql_.query(DeletionSql::sessionId())).toInt();
    view_ = host_.backupView();
    watcher_ = host_.secondConnection();
    if (view_)
        view_->start(databases);
    const QDateTime now = QDateTime::currentDateTime();
    for (qsizetype i = 0; i < databases.size(); ++i) {
        const QString& db = databases[i];
        const QString file = backupFile(directory_, db, now);
        SqlError e = watched(DeletionSql::backupDatabase(db, file), {i, text::backingUp(db)});
        if (!e.isError())
            e = watched(DeletionSql::verifyBackup(file), {i, text::verifying(db)});
        if (view_ && view_->cancelled())
            return stop(text::backupCancelled(), {});
        if (e.isError()) {
            return stop(text::backupFailed(db), QStringLiteral("%1\n%2").arg(file, serverWords(e)));
        }
        made_.append({db, file});
        if (view_)
            view_->progress(i, 100, text::backedUp(db));
    }
    if (view_)
        view_->finish();
    watcher_.reset();
    return true;
}

bool Backups::stop(const QString& text, const QString& why) {
    if (view_)
        view_->finish();
    watcher_.reset();
    QStringList details;
    if (!why.isEmpty())
        details << why;
    details << text::backupsKept(made_);
    host_.notice(text, details.join(QLatin1Char('\n')));
    return false;
}

SqlError Backups::watched(const QString& statement, const Step& step) {
    return runWatched(sql_, view_, watcher_.get(), sessionId_, statement, step.index, step.what);
}

// The statement runs on the main connection while a timer reads its progress on the second one
// and passes a cancel on; the call lets the progress window take input meanwhile. Through QtSql's
// ODBC driver and FreeTDS a backup's own messages reach us only when the statement has ended, all
// at once, so progress comes from percent_complete; the cancel is an attention, which stops the
// statement and keeps the session, where a KILL would end the window's connection too.
SqlError runWatched(SqlClient& sql, BackupView* view, SqlClient* watcher, int sessionId,
                    const QString& statement, qsizetype index, const QString& what) {
    if (view) {
        if (view->cancelled())
            return {SqlError::Kind::Statement, 0, QStringLiteral("Operation canceled")};
        view->progress(index, 0, what);
    }
    std::unique_ptr<QTimer> timer;
    bool polling = false;
    bool cancelSent = false;
    if (view && QCoreApplication::instance()) {
        timer = std::make_unique<QTimer>();
        timer->setInterval(200);
        QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [&] {
            if (polling)
                return;
            polling = true;
            if (view->cancelled() && !cancelSent) {
                sql.cancel();
                cancelSent = true;
            } else if (watcher && sessionId > 0 && !cancelSent) {
                const QVariant pct = single(watcher->query(DeletionSql::percentComplete(sessionId)));
                if (pct.isValid() && !pct.isNull())
                    view->progress(index, qBound(0, int(pct.toDouble()), 100), what);
            }
            polling = false;
        });
        timer->start();
    }
    const SqlError e = sql.interruptible(statement);
    timer.reset();
    return e;
}

}  // namespace deletion
