#include "deletion/RestoreText.h"

namespace deletion::text {

namespace {
QString mb(qint64 bytes) {
    if (bytes < 1024 * 1024)
        return QString::number((bytes + 1023) / 1024) + QStringLiteral(" KB");
    return QString::number(bytes / 1048576.0, 'f', 1) + QStringLiteral(" MB");
}
}  // namespace

QString restoreNow() {
    return QStringLiteral("立即恢复");
}
QString scriptUnreadable(const QString& path, const QString& why) {
    return QStringLiteral("无法使用撤销脚本 %1 恢复帐套:\n%2").arg(path, why);
}
QString restoreQueryFailed() {
    return QStringLiteral("无法查询服务器, 未做任何恢复!");
}
QString otherServer(const QString& scriptServer, const QString& here) {
    return QStringLiteral("此撤销脚本是在服务器 %1 上生成的, 当前连接的服务器是 %2, 不能在这里恢复!")
        .arg(scriptServer, here);
}
QString catalogueTableMissing(const QString& table) {
    return QStringLiteral("系统库中没有表 %1, 无法恢复帐套的记录!").arg(table);
}
QString registeredAgain(const QString& accountNo, const QStringList& lines) {
    return QStringLiteral("帐套%1已重新建立 (系统库中有它的记录, 与撤销脚本中的不同), 不能恢复!\n%2")
        .arg(accountNo, lines.join(QLatin1Char('\n')));
}
QString rowsNowAndThen(const QString& table, qint64 now, qint64 script) {
    return QStringLiteral("    %1: 现有 %2 行, 脚本中 %3 行").arg(table).arg(now).arg(script);
}
QString databaseThereAgain(const QString& database, const QString& created, const QString& backedUpCreated) {
    return QStringLiteral(
               "数据库 %1 已重新存在, 与备份中的不是同一个数据库 (创建于 %2, 备份中的创建于 %3), 不能恢复!")
        .arg(database, created, backedUpCreated);
}
QString databaseRestoring(const QString& database) {
    return QStringLiteral("数据库 %1 正处于还原中 (RESTORING), 不能恢复! 请先查明是谁在还原它.")
        .arg(database);
}
QString backupUnreadable(const QString& database, const QString& file) {
    return QStringLiteral("服务器无法读取数据库 %1 的备份文件 %2, 不能恢复!").arg(database, file);
}
QString backupOfAnother(const QString& file, const QString& holds, const QString& database) {
    return QStringLiteral("备份文件 %1 中是数据库 %2 的备份, 不是 %3 的, 不能恢复!")
        .arg(file, holds, database);
}
QString nothingToRestore(const QString& accountNo) {
    return QStringLiteral("帐套%1的数据库和系统库记录都在, 无需恢复.").arg(accountNo);
}

QString confirmRestore(const QString& accountNo, const QStringList& databases, qsizetype rows) {
    QString out = QStringLiteral("确实要从撤销脚本恢复帐套%1吗?").arg(accountNo);
    if (!databases.isEmpty())
        out += QStringLiteral("\n将从备份还原数据库: %1").arg(databases.join(QStringLiteral(", ")));
    out += rows > 0 ? QStringLiteral("\n将恢复系统库记录 %1 行 (详见详细信息)").arg(rows)
                    : QStringLiteral("\n系统库记录仍在, 不重复插入");
    return out;
}
QStringList restoreHeading(const QString& server, const QString& serverName, const QString& accountNo,
                           const QStringList& years, const QString& made, const QString& script) {
    return {QStringLiteral("服务器: %1 (@@SERVERNAME: %2)").arg(server, serverName),
            QStringLiteral("帐套号: %1").arg(accountNo),
            QStringLiteral("年度: %1")
                .arg(years.isEmpty() ? QStringLiteral("(无)") : years.join(QLatin1Char(';'))),
            QStringLiteral("删除时间: %1").arg(made), QStringLiteral("撤销脚本: %1").arg(script)};
}
QString restoreBackupsHeading() {
    return QStringLiteral("还原的数据库 (服务器读取的备份信息):");
}
QString restoreBackupLine(const QString& database, const QString& file) {
    return QStringLiteral("    %1: %2").arg(database, file);
}
QString restoreBackupInfo(const QString& finished, qint64 bytes) {
    return QStringLiteral("        备份于 %1, %2, 已校验").arg(finished, mb(bytes));
}
QString restoreFileLine(const QString& logical, const QString& physical, qint64 bytes) {
    return QStringLiteral("        %1 -> %2 (%3)").arg(logical, physical, mb(bytes));
}
QString databaseKept(const QString& database) {
    return QStringLiteral("    %1: 已在服务器上 (与备份中的是同一个数据库), 无需还原").arg(database);
}
QString restoreRowsHeading(bool insert) {
    return insert ? QStringLiteral("恢复的系统库记录 (一个事务):")
                  : QStringLiteral("系统库记录仍在 (与撤销脚本中的相同), 不重复插入:");
}
QString restoreRowsLine(const QString& table, qsizetype rows) {
    return QStringLiteral("    %1: %2 行").arg(table).arg(rows);
}

QString restoreWindowTitle() {
    return QStringLiteral(" - 正在还原年度数据库");
}
QString restoring(const QString& database) {
    return QStringLiteral("正在还原 %1 …").arg(database);
}
QString restored(const QString& database) {
    return QStringLiteral("%1 已还原").arg(database);
}

QString restoreSucceeded(const QString& accountNo, const QStringList& databases, qsizetype rows,
                         bool rowsWereThere) {
    QString out = QStringLiteral("帐套%1已恢复!").arg(accountNo);
    if (!databases.isEmpty())
        out += QStringLiteral("\n已还原数据库: %1").arg(databases.join(QStringLiteral(", ")));
    out += rowsWereThere ? QStringLiteral("\n系统库记录仍在, 未重复插入.")
                         : QStringLiteral("\n已恢复系统库记录 %1 行.").arg(rows);
    return out;
}
QString restoreCancelled(const QString& accountNo) {
    return QStringLiteral("恢复帐套%1已取消!").arg(accountNo);
}
QString restoreFailed(const QString& accountNo) {
    return QStringLiteral("恢复帐套%1失败!").arg(accountNo);
}
QString restoredSoFar(const QStringList& databases) {
    return databases.isEmpty()
               ? QString()
               : QStringLiteral("\n已完整还原的数据库 (保留): %1").arg(databases.join(QStringLiteral(", ")));
}
QString halfRestoredDropped(const QStringList& databases) {
    return databases.isEmpty() ? QString()
                               : QStringLiteral("\n未还原完的数据库已删除, 没有留下半还原的数据库: %1")
                                     .arg(databases.join(QStringLiteral(", ")));
}
QString halfRestoredLeft(const QStringList& databases) {
    return databases.isEmpty() ? QString()
                               : QStringLiteral("\n注意: 未还原完的数据库无法删除, 仍处于还原中: %1")
                                     .arg(databases.join(QStringLiteral(", ")));
}
QString rowsNotRestored() {
    return QStringLiteral("\n系统库记录未恢复, 帐套仍未列出. 可以再次从同一撤销脚本恢复.");
}
QString verifyMissing(const QStringList& lines) {
    return QStringLiteral("\n核对时发现:\n%1").arg(lines.join(QLatin1Char('\n')));
}
QString missingRows(const QString& table, qint64 now, qint64 expected) {
    return QStringLiteral("    %1: %2 行, 应为 %3 行").arg(table).arg(now).arg(expected);
}
QString missingDatabase(const QString& database, const QString& state) {
    return state.isEmpty() ? QStringLiteral("    数据库 %1 不存在").arg(database)
                           : QStringLiteral("    数据库 %1 处于 %2 状态").arg(database, state);
}

}  // namespace deletion::text
