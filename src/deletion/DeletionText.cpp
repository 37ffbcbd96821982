#include "deletion/DeletionText.h"

#include "deletion/DeletionChecks.h"

namespace deletion::text {

namespace {
const QChar kNewline = QLatin1Char('\n');
}

QString enterAccountNumber() {
    return QStringLiteral("请输入要删除的帐套号!");
}
QString accountMissing(const QString& n) {
    return QStringLiteral("帐套(") + n + QStringLiteral(")不存在!");
}
QString confirmAccount(const QString& n) {
    return QStringLiteral("此操作将会从系统数据库TqSystem的关键数据表中删除帐套") + n +
           QStringLiteral("的信息,此操作不可恢复,确认删除帐套?");
}
QString confirmDatabases(const QString& n) {
    return QStringLiteral("已选择删除帐套") + n + QStringLiteral("的所有年度数据库,确认删除?");
}
QString cancelled() {
    return QStringLiteral("操作已取消!");
}
QString enterYears() {
    return QStringLiteral("请输入要删除帐套的完整年度信息(如2002;2003)!");
}
QString databaseMissing(const QString& n, const QString& year) {
    return QStringLiteral("数据库tqdata_") + n + QLatin1Char('_') + year + QStringLiteral("不存在!");
}
QString queryFailed() {
    return QStringLiteral("无法查询数据库服务器,删除操作已停止,没有删除任何数据!");
}
QString databasesInUse(const QStringList& lines) {
    return QStringLiteral("以下数据库正在被其他连接使用,删除操作已停止,没有删除任何数据!\n") +
           lines.join(kNewline) + QStringLiteral("\n请断开这些连接后重试。");
}
QString lockWaitStopped(const QString& holders) {
    return QStringLiteral("等待其他会话释放锁超时,删除操作已停止,没有删除任何数据!\n") + holders;
}
QString databasesUnsafe(const QStringList& lines) {
    return QStringLiteral("以下年度数据库目前不能删除,删除操作已停止,没有删除任何数据!\n") +
           lines.join(kNewline) + QStringLiteral("\n请在服务器上处理后重试。");
}

QString previewHeading(const QString& n) {
    return QStringLiteral("将从系统数据库TqSystem中删除帐套%1的记录:").arg(n);
}
QString previewUnqueried(const QString& why) {
    return QStringLiteral("    ") + unqueried(why);
}
QString previewCount(const QString& table, const QString& rows) {
    return QStringLiteral("    %1: %2 行").arg(table, rows);
}
QString previewCountUnqueried(const QString& table, const QString& why) {
    return QStringLiteral("    %1: %2").arg(table, unqueried(why));
}
QString previewDatabasesHeading() {
    return QStringLiteral("将删除的年度数据库:");
}
QString previewNoYears() {
    return QStringLiteral("    (未填写年度)");
}

QString megabytes(qint64 pages) {
    return QString::number(pages * 8.0 / 1024.0, 'f', 1) + QStringLiteral(" MB");
}

QString previewDatabase(const QString& db, const SqlResult& size, const SqlResult& state,
                        const SqlResult& sessions) {
    const QString indent = QStringLiteral("    ");
    if (!size.ok())
        return indent + db + QStringLiteral(": ") + unqueried(serverWords(size.error));
    const QVariant pages = size.rowCount() == 1 ? size.rows[0].value(0) : QVariant();
    if (!pages.isValid() || pages.isNull())
        return indent + db + QStringLiteral(": 不存在");
    QStringList parts{megabytes(pages.toLongLong())};
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
    return indent + db + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

QString hazardLine(const QString& db, const QStringList& reasons) {
    return QStringLiteral("数据库%1: ").arg(db) + reasons.join(QStringLiteral("; "));
}
QString hazardDetails(const QString& db, const QString& raw) {
    return db + QStringLiteral(": ") + raw;
}

// States in which DROP DATABASE fails or would remove a database someone is bringing back:
// https://learn.microsoft.com/sql/relational-databases/databases/database-states
QString databaseStateReason(const QString& state) {
    if (state == QLatin1String("RESTORING"))
        return QStringLiteral("正在还原(RESTORING),删除会中断还原");
    if (state == QLatin1String("RECOVERING"))
        return QStringLiteral("正在恢复(RECOVERING),尚未联机");
    if (state == QLatin1String("RECOVERY_PENDING"))
        return QStringLiteral("恢复挂起(RECOVERY_PENDING),需要管理员处理");
    if (state == QLatin1String("SUSPECT"))
        return QStringLiteral("置疑(SUSPECT),数据库可能已损坏,需要管理员处理");
    if (state == QLatin1String("EMERGENCY"))
        return QStringLiteral("处于紧急模式(EMERGENCY),正由管理员处理");
    return QStringLiteral("状态为%1,不是联机状态").arg(state);
}
QString singleUserTaken(const QStringList& sessions) {
    return QStringLiteral("处于单用户模式(SINGLE_USER),已被其他会话占用: ") +
           sessions.join(QStringLiteral("; "));
}
QString published() {
    return QStringLiteral("已发布用于复制,须先删除复制(错误 3724)");
}
QString mergePublished() {
    return QStringLiteral("已发布用于合并复制,须先删除复制(错误 3724)");
}
QString subscribed() {
    return QStringLiteral("是复制的订阅数据库,须先删除复制");
}
QString inAvailabilityGroup() {
    return QStringLiteral("属于可用性组,须先将其移出可用性组(错误 3752)");
}
QString databaseGone() {
    return QStringLiteral("服务器上已找不到该数据库");
}
QString snapshotSource(const QString& snapshot) {
    return QStringLiteral("是数据库快照%1的源数据库,须先删除快照(错误 3709)").arg(snapshot);
}
QString mirrored(const QString& role) {
    return QStringLiteral("已配置数据库镜像(%1),须先删除镜像(错误 3743)").arg(role);
}

QString session(const QString& spid, const QString& login, const QString& host, const QString& program) {
    return QStringLiteral("会话%1(登录名 %2, 主机 %3, 程序 %4)").arg(spid, login, host, program);
}
QString sessionUsing(const QString& session, const QStringList& databases) {
    return session + QStringLiteral(" 正在使用数据库") + databases.join(QStringLiteral("、"));
}
QString lockHoldersUnknown(const QString& why) {
    return QStringLiteral("无法查明占用锁的会话: ") + why;
}
QString lockHolderGone() {
    return QStringLiteral("占用锁的会话在查询时已经结束,无法查明是哪个会话。");
}
QString lockHoldersHeading(bool exact) {
    return exact ? QStringLiteral("占用锁的会话:")
                 : QStringLiteral("持有未提交事务的会话(占用锁的会话在其中):");
}

QString backupCheck() {
    return QStringLiteral("删除前备份年度数据库");
}
QString backupDirectory(const QString& directory) {
    return QStringLiteral("备份目录(服务器上): ") +
           (directory.isEmpty() ? QStringLiteral("(无法确定)") : directory);
}
QString backupSize(const QString& db, const QString& size) {
    return QStringLiteral("    %1: %2").arg(db, size);
}
QString sizeUnknown() {
    return QStringLiteral("大小未知");
}
QString lastFullBackupHeading() {
    return QStringLiteral("上次完整备份:");
}
QString lastFullBackup(const QString& db, const QString& when) {
    return QStringLiteral("    %1: %2").arg(db, when);
}
QString neverBackedUp() {
    return QStringLiteral("从未备份");
}
QString unqueried(const QString& why) {
    return QStringLiteral("(无法查询: %1)").arg(why);
}
QString backupDirectoryUnknown() {
    return QStringLiteral("无法确定服务器的默认备份目录,删除操作已停止,没有删除任何数据!");
}
QString backupCancelled() {
    return QStringLiteral("备份已取消,删除操作已停止,没有删除任何数据!");
}
QString backupFailed(const QString& db) {
    return QStringLiteral("备份数据库%1失败,删除操作已停止,没有删除任何数据!").arg(db);
}
QString backingUp(const QString& db) {
    return QStringLiteral("正在备份 %1").arg(db);
}
QString verifying(const QString& db) {
    return QStringLiteral("正在校验 %1").arg(db);
}
QString backedUp(const QString& db) {
    return QStringLiteral("%1 已备份并校验").arg(db);
}
QStringList backupsKept(const QList<undo::Backup>& made) {
    if (made.isEmpty())
        return {};
    QStringList out{QStringLiteral("已完成的备份文件(服务器上,保留):")};
    for (const undo::Backup& b : made)
        out << QStringLiteral("    ") + b.file;
    return out;
}

QString undoNotSaved() {
    return QStringLiteral("无法保存撤销脚本,删除操作已停止,没有删除任何数据!");
}
QString journalNotWritten(const QString& path, const QString& why) {
    return QStringLiteral("无法写入删除记录,删除操作已停止,没有删除任何数据!\n文件: %1\n原因: %2")
        .arg(path, why);
}
QString journalNotCompleted(const QString& path, const QString& why) {
    return QStringLiteral("删除记录未能写完,请手工补记本次操作的结果。\n文件: %1\n原因: %2").arg(path, why);
}
QString undoResultsMissing() {
    return QStringLiteral("服务器未返回全部结果");
}
QString undoColumnMissing(const QString& table, const QString& column) {
    return QStringLiteral("%1.%2 未在结果中").arg(table, column);
}
QString undoNoColumns(const QString& table) {
    return QStringLiteral("无法读取表%1的列").arg(table);
}

QString successEmpty(const QString& n) {
    return QStringLiteral("空帐套号") + n + QStringLiteral("已成功删除!");
}
QString successWithYears(const QString& n, const QString& years) {
    return QStringLiteral("帐套") + n + QLatin1Char('(') + years + QStringLiteral("年)已成功删除!");
}
QString offlinePreview(const QStringList& dbs) {
    return QStringLiteral(
               "注意: 以下数据库处于脱机状态(OFFLINE),无法备份;删除后其数据文件仍留在服务器的磁盘上:\n    ") +
           dbs.join(QStringLiteral("\n    "));
}
QString offlineNotBackedUp(const QStringList& dbs) {
    return QStringLiteral("以下数据库处于脱机状态(OFFLINE),无法备份,删除操作已停止,没有删除任何数据!\n") +
           dbs.join(kNewline) + QStringLiteral("\n请先在服务器上使其联机(ONLINE),或不选择备份后重试。");
}
QString claimFailed(const QString& db, const QStringList& sessions) {
    return QStringLiteral("无法独占数据库") + db + QStringLiteral(",删除操作已停止,没有删除任何数据!") +
           (sessions.isEmpty() ? QString()
                               : QStringLiteral("\n正在使用的连接:\n") + sessions.join(kNewline)) +
           QStringLiteral("\n请断开这些连接后重试。");
}

QString failure() {
    return QStringLiteral("删除操作失败,请重试!(可能数据库连接超时或其他原因导致操作故障)");
}

QStringList wayBack(const QString& undoPath, const QList<undo::Backup>& backups) {
    QStringList out;
    if (!undoPath.isEmpty())
        out << QStringLiteral("撤销脚本: ") + undoPath;
    if (!backups.isEmpty())
        out << QStringLiteral("备份文件(服务器上):");
    for (const undo::Backup& b : backups)
        out << QStringLiteral("    ") + b.file;
    return out;
}

QString partlyFailed(const QString& n, const QStringList& failed, const QStringList& gone) {
    QString msg = QStringLiteral("帐套%1已从系统数据库中删除,但以下年度数据库未能删除:\n").arg(n) +
                  failed.join(kNewline);
    if (!gone.isEmpty())
        msg += QStringLiteral("\n已删除的年度数据库:\n") + gone.join(kNewline);
    return msg;
}
QString purgeLockRolledBack(const QString& holders) {
    return QStringLiteral("\n等待其他会话释放锁超时,系统数据库中的删除已全部撤销。\n") + holders;
}
QString stillThere(const QStringList& what) {
    return QStringLiteral("\n以下内容仍在服务器上:\n") + what.join(kNewline);
}
QString droppedForGood(const QStringList& gone) {
    return QStringLiteral("\n以下年度数据库已删除,无法恢复:\n") + gone.join(kNewline);
}
QString droppedWithBackups(const QStringList& lines, const QString& script) {
    return QStringLiteral("\n以下年度数据库已删除,可以用它们的备份和撤销脚本恢复") +
           (script.isEmpty() ? QString() : QStringLiteral("(撤销脚本: ") + script + QLatin1Char(')')) +
           QStringLiteral(":\n") + lines.join(kNewline);
}
QString droppedBackupLine(const QString& db, const QString& file) {
    return db + QStringLiteral(" (备份: ") + file + QLatin1Char(')');
}
QString changedSinceScript(const QString& n, const QString& table) {
    return QStringLiteral("帐套") + n + QStringLiteral("的记录在撤销脚本写成后有变化(") + table +
           QStringLiteral("),删除已全部撤销,系统数据库中没有删除任何记录。请重试。");
}
QString notDropped(const QStringList& failed) {
    return QStringLiteral("\n以下年度数据库未能删除:\n") + failed.join(kNewline);
}
QString leftoverRows(const QString& table, qint64 rows) {
    return QStringLiteral("%1: %2 行").arg(table).arg(rows);
}
QString leftoverDatabase(const QString& db) {
    return QStringLiteral("数据库") + db;
}
QString reason(const QString& db, const QString& why) {
    return db + QStringLiteral(": ") + why;
}

// A database dropped while OFFLINE leaves its files behind:
// https://learn.microsoft.com/sql/t-sql/statements/drop-database-transact-sql
QString offlineNote(const QList<QPair<QString, QStringList>>& offlineDropped) {
    if (offlineDropped.isEmpty())
        return {};
    QStringList lines;
    for (const auto& [db, files] : offlineDropped) {
        if (files.isEmpty()) {
            lines << db + QStringLiteral("(未能读取其文件路径)");
            continue;
        }
        lines << db + QLatin1Char(':');
        for (const QString& f : files)
            lines << QStringLiteral("    ") + f;
    }
    return QStringLiteral(
               "\n注意: 以下数据库删除时处于脱机状态(OFFLINE),其数据文件仍留在服务器的磁盘上,"
               "需要手工删除:\n") +
           lines.join(kNewline);
}

}  // namespace deletion::text
