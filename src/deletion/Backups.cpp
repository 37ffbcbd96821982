// Verified backups of the yearly databases before the first drop, watched from a second connection.
#include "deletion/Backups.h"

#include <QCoreApplication>
#include <QTimer>

#include "deletion/Deletion.h"
#include "sql/SqlText.h"

namespace deletion {

namespace {

QString nquoted(const QString& text) {
    return QStringLiteral("N'") + SqlText::literal(text) + QLatin1Char('\'');
}

QVariant single(const SqlResult& r) {
    return r.ok() && r.rowCount() == 1 && !r.rows[0].isEmpty() ? r.rows[0].value(0) : QVariant();
}

const QString kCheckText = QStringLiteral("删除前备份年度数据库");

}  // namespace

namespace BackupSql {

// SERVERPROPERTY('InstanceDefaultBackupPath') exists from SQL Server 2019 (15.x); an unknown
// property gives Null on older versions
// (https://learn.microsoft.com/en-us/sql/t-sql/functions/serverproperty-transact-sql).
QString defaultDirectory() {
    return QStringLiteral("select convert(nvarchar(4000), SERVERPROPERTY('InstanceDefaultBackupPath'))");
}

// Before 2019 the folder lives only in the instance's registry key BackupDirectory, which the
// instance-aware reader resolves for named instances too.
QString registryDirectory() {
    return QStringLiteral(
        "exec master.dbo.xp_instance_regread N'HKEY_LOCAL_MACHINE', "
        "N'Software\\Microsoft\\MSSQLServer\\MSSQLServer', N'BackupDirectory'");
}

// backupset type 'D' is a full database backup
// (https://learn.microsoft.com/en-us/sql/relational-databases/system-tables/backupset-transact-sql).
QString lastFullBackup(const QString& db) {
    return QStringLiteral("select max(backup_finish_date) from msdb.dbo.backupset where database_name=") +
           nquoted(db) + QStringLiteral(" and type='D'");
}

QString sessionId() {
    return QStringLiteral("select @@SPID");
}

// COPY_ONLY leaves the installation's own backup chain as it was; CHECKSUM lets VERIFYONLY prove
// the pages (https://learn.microsoft.com/en-us/sql/t-sql/statements/backup-transact-sql).
QString backup(const QString& db, const QString& file) {
    return QStringLiteral("BACKUP DATABASE ") + SqlText::bracketed(db) + QStringLiteral(" TO DISK = ") +
           nquoted(file) + QStringLiteral(" WITH COPY_ONLY, CHECKSUM, INIT");
}

// https://learn.microsoft.com/en-us/sql/t-sql/statements/restore-statements-verifyonly-transact-sql
QString verify(const QString& file) {
    return QStringLiteral("RESTORE VERIFYONLY FROM DISK = ") + nquoted(file) +
           QStringLiteral(" WITH CHECKSUM");
}

// percent_complete is filled for BACKUP and RESTORE
// (https://learn.microsoft.com/en-us/sql/relational-databases/system-dynamic-management-views/sys-dm-exec-requests-transact-sql).
QString percentComplete(int session) {
    return QStringLiteral("select percent_complete from sys.dm_exec_requests where session_id=") +
           QString::number(session);
}

QString fileIn(const QString& directory, const QString& db, const QDateTime& at) {
    const QChar sep = directory.contains(QLatin1Char('\\')) || !directory.contains(QLatin1Char('/'))
                          ? QLatin1Char('\\')
                          : QLatin1Char('/');
    QString dir = directory;
    if (!dir.endsWith(sep))
        dir += sep;
    return dir + db + QLatin1Char('_') + at.toString(QStringLiteral("yyyyMMdd_HHmmss")) +
           QStringLiteral(".bak");
}

}  // namespace BackupSql

QStringList Backups::previewStatements(const QStringList& databases) {
    databases_ = databases;
    QStringList out{BackupSql::sessionId()};
    for (const QString& db : databases)
        out << BackupSql::lastFullBackup(db);
    return out;
}

void Backups::noteSize(const QString& database, const SqlResult& pages) {
    const QVariant v = single(pages);
    sizes_[database] = v.isValid() && !v.isNull()
                           ? QString::number(v.toLongLong() * 8.0 / 1024.0, 'f', 1) + QStringLiteral(" MB")
                           : QStringLiteral("大小未知");
}

QStringList Backups::readPreview(const QList<SqlResult>& results, qsizetype first) {
    sessionId_ = single(resultAt(results, first)).toInt();
    QStringList lines{QStringLiteral("上次完整备份:")};
    for (qsizetype k = 0; k < databases_.size(); ++k) {
        const SqlResult r = resultAt(results, first + 1 + k);
        const QVariant when = single(r);
        QString state;
        if (!r.ok())
            state = QStringLiteral("(无法查询: %1)").arg(serverWords(r.error));
        else if (!when.isValid() || when.isNull())
            state = QStringLiteral("从未备份");
        else
            state = when.toDateTime().isValid()
                        ? when.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                        : when.toString();
        lines << QStringLiteral("    %1: %2").arg(databases_[k], state);
    }
    return lines;
}

// The folder is asked on its own, not in the first confirmation's batch: a server that does not
// know one of the two ways must not cost the operator the rest of the details.
bool Backups::confirm(const QString& text) {
    directory_ = single(sql_.query(BackupSql::defaultDirectory())).toString().trimmed();
    if (directory_.isEmpty()) {
        const SqlResult r = sql_.query(BackupSql::registryDirectory());
        if (r.ok() && r.rowCount() == 1)
            directory_ = r.value(0, QStringLiteral("Data")).toString().trimmed();
    }
    QStringList details{QStringLiteral("备份目录(服务器上): ") +
                        (directory_.isEmpty() ? QStringLiteral("(无法确定)") : directory_)};
    for (const QString& db : databases_)
        details << QStringLiteral("    %1: %2").arg(db, sizes_.value(db, QStringLiteral("大小未知")));
    chosen_ = true;
    return host_.confirmWithCheck(text, details.join(QLatin1Char('\n')), kCheckText, &chosen_);
}

bool Backups::run(const QStringList& databases) {
    if (!chosen_ || databases.isEmpty())
        return true;
    if (directory_.isEmpty())
        return stop(QStringLiteral("无法确定服务器的默认备份目录,删除操作已停止,没有删除任何数据!"), {});
    if (sessionId_ <= 0)
        sessionId_ = single(sql_.query(BackupSql::sessionId())).toInt();
    view_ = host_.backupView();
    watcher_ = host_.secondConnection();
    if (view_)
        view_->start(databases);
    const QDateTime now = QDateTime::currentDateTime();
    for (qsizetype i = 0; i < databases.size(); ++i) {
        const QString& db = databases[i];
        const QString file = BackupSql::fileIn(directory_, db, now);
        SqlError e = watched(BackupSql::backup(db, file), {i, QStringLiteral("正在备份 %1").arg(db)});
        if (!e.isError())
            e = watched(BackupSql::verify(file), {i, QStringLiteral("正在校验 %1").arg(db)});
        if (view_ && view_->cancelled())
            return stop(QStringLiteral("备份已取消,删除操作已停止,没有删除任何数据!"), {});
        if (e.isError()) {
            return stop(QStringLiteral("备份数据库%1失败,删除操作已停止,没有删除任何数据!").arg(db),
                        QStringLiteral("%1\n%2").arg(file, serverWords(e)));
        }
        made_.append({db, file});
        if (view_)
            view_->progress(i, 100, QStringLiteral("%1 已备份并校验").arg(db));
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
    if (!made_.isEmpty()) {
        details << QStringLiteral("已完成的备份文件(服务器上,保留):");
        for (const undo::Backup& b : made_)
            details << QStringLiteral("    ") + b.file;
    }
    host_.notice(text, details.join(QLatin1Char('\n')));
    return false;
}

// The statement runs on the main connection while a timer reads its progress on the second one
// and passes a cancel on; the call lets the progress window take input meanwhile. Through QtSql's
// ODBC driver and FreeTDS a backup's own messages reach us only when the statement has ended, all
// at once, so progress comes from percent_complete; the cancel is an attention, which stops the
// backup and keeps the session, where a KILL would end the window's connection too.
SqlError Backups::watched(const QString& statement, const Step& step) {
    if (view_) {
        if (view_->cancelled())
            return {SqlError::Kind::Statement, 0, QStringLiteral("Operation canceled")};
        view_->progress(step.index, 0, step.what);
    }
    std::unique_ptr<QTimer> timer;
    if (view_ && QCoreApplication::instance()) {
        timer = std::make_unique<QTimer>();
        timer->setInterval(200);
        QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [this, step] { poll(step); });
        timer->start();
    }
    const SqlError e = sql_.interruptible(statement);
    timer.reset();
    return e;
}

void Backups::poll(const Step& step) {
    if (polling_)
        return;
    polling_ = true;
    if (view_->cancelled() && !cancelSent_) {
        sql_.cancel();
        cancelSent_ = true;
    } else if (watcher_ && sessionId_ > 0 && !cancelSent_) {
        const QVariant pct = single(watcher_->query(BackupSql::percentComplete(sessionId_)));
        if (pct.isValid() && !pct.isNull())
            view_->progress(step.index, qBound(0, int(pct.toDouble()), 100), step.what);
    }
    polling_ = false;
}

}  // namespace deletion
