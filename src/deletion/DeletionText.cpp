// The texts the operator reads during a deletion.
#include "deletion/Deletion.h"

namespace deletion::text {

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
           lines.join(QLatin1Char('\n')) + QStringLiteral("\n请断开这些连接后重试。");
}
QString lockWaitStopped(const QString& holders) {
    return QStringLiteral("等待其他会话释放锁超时,删除操作已停止,没有删除任何数据!\n") + holders;
}
QString databasesUnsafe(const QStringList& lines) {
    return QStringLiteral("以下年度数据库目前不能删除,删除操作已停止,没有删除任何数据!\n") +
           lines.join(QLatin1Char('\n')) + QStringLiteral("\n请在服务器上处理后重试。");
}
QString successEmpty(const QString& n) {
    return QStringLiteral("空帐套号") + n + QStringLiteral("已成功删除!");
}
QString successWithYears(const QString& n, const QString& years) {
    return QStringLiteral("帐套") + n + QLatin1Char('(') + years + QStringLiteral("年)已成功删除!");
}
QString failure() {
    return QStringLiteral("删除操作失败,请重试!(可能数据库连接超时或其他原因导致操作故障)");
}

QString offlinePreview(const QStringList& dbs) {
    return QStringLiteral(
               "注意: 以下数据库处于脱机状态(OFFLINE),无法备份;删除后其数据文件仍留在服务器的磁盘上:\n    ") +
           dbs.join(QStringLiteral("\n    "));
}
QString offlineNotBackedUp(const QStringList& dbs) {
    return QStringLiteral("以下数据库处于脱机状态(OFFLINE),无法备份,删除操作已停止,没有删除任何数据!\n") +
           dbs.join(QLatin1Char('\n')) +
           QStringLiteral("\n请先在服务器上使其联机(ONLINE),或不选择备份后重试。");
}
QString claimFailed(const QString& db, const QStringList& sessions) {
    return QStringLiteral("无法独占数据库") + db + QStringLiteral(",删除操作已停止,没有删除任何数据!") +
           (sessions.isEmpty() ? QString()
                               : QStringLiteral("\n正在使用的连接:\n") + sessions.join(QLatin1Char('\n'))) +
           QStringLiteral("\n请断开这些连接后重试。");
}
QString changedSinceScript(const QString& n, const QString& table) {
    return QStringLiteral("帐套") + n + QStringLiteral("的记录在撤销脚本写成后有变化(") + table +
           QStringLiteral("),删除已全部撤销,系统数据库中没有删除任何记录。请重试。");
}
QString droppedWithBackups(const QStringList& lines, const QString& script) {
    return QStringLiteral("\n以下年度数据库已删除,可以用它们的备份和撤销脚本恢复") +
           (script.isEmpty() ? QString() : QStringLiteral("(撤销脚本: ") + script + QLatin1Char(')')) +
           QStringLiteral(":\n") + lines.join(QLatin1Char('\n'));
}

}  // namespace deletion::text
