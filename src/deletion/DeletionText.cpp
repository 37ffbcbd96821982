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

QString offlineLeftovers(const QList<QPair<QString, QStringList>>& databases) {
    QStringList lines;
    for (const auto& [db, files] : databases) {
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
           lines.join(QLatin1Char('\n'));
}

}  // namespace deletion::text
