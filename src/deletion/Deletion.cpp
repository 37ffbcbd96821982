#include "deletion/Deletion.h"

#include <optional>

#include "catalogue/AccountCatalogue.h"
#include "deletion/DeletionSql.h"

namespace deletion {

namespace text {
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
QString successEmpty(const QString& n) {
    return QStringLiteral("空帐套号") + n + QStringLiteral("已成功删除!");
}
QString successWithYears(const QString& n, const QString& years) {
    return QStringLiteral("帐套") + n + QLatin1Char('(') + years + QStringLiteral("年)已成功删除!");
}
QString failure() {
    return QStringLiteral("删除操作失败,请重试!(可能数据库连接超时或其他原因导致操作故障)");
}
}  // namespace text

namespace {

QString serverWords(const SqlError& e) {
    if (e.nativeCode != 0)
        return e.message + QStringLiteral(" (") + QString::number(e.nativeCode) + QLatin1Char(')');
    return e.message;
}

QString field(const SqlResult& r, qsizetype row, const QString& column) {
    return AccountCatalogue::trimSpaces(r.value(row, column).toString());
}

struct FailedDrop {
    QString database;
    SqlError error;
};

class Run {
public:
    explicit Run(DeletionHost& host) : host_(host), sql_(host.client()) {}

    Outcome go() {
        if (!request())
            return Outcome::Stopped;
        if (ticked_ && !removeDatabases())
            return Outcome::Stopped;
        const Outcome outcome = purgeAndReport();
        host_.reset();
        return outcome;
    }

private:
    // Stage 1: the number, the look-up and the confirmations. Nothing changes on the server here.
    bool request() {
        host_.checkAccountNumber();
        n_ = AccountCatalogue::trimSpaces(host_.accountNumberText());
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
        if (!host_.confirm(text::confirmAccount(n_), preview()))
            return false;
        ticked_ = host_.deleteDatabasesTicked();
        if (!ticked_)
            return true;
        if (!host_.confirm(text::confirmDatabases(n_))) {
            host_.notice(text::cancelled());
            return false;
        }
        const QString years = AccountCatalogue::trimSpaces(host_.yearText());
        entries_ = DeletionSql::yearEntries(years);
        if (entries_.isEmpty()) {
            host_.notice(text::enterYears());
            return false;
        }
        years_ = DeletionSql::withoutTrailingSeparator(years);
        return true;
    }

    bool stopOnQueryFailure(const SqlError& e) {
        host_.notice(text::queryFailed(), serverWords(e));
        return false;
    }

    // What the deletion will remove, for the first confirmation's details. Read-only; a query that
    // fails here only leaves a gap in the list, the stages below check again.
    QString preview() {
        QStringList lines;
        lines << QStringLiteral("将从系统数据库TqSystem中删除帐套%1的记录:").arg(n_);
        const SqlResult tables = sql_.query(DeletionSql::existingTables());
        if (!tables.ok()) {
            lines << QStringLiteral("    (无法查询: %1)").arg(serverWords(tables.error));
        } else {
            for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(n_)) {
                if (!hasTable(tables, p.table))
                    continue;
                const SqlResult count = sql_.query(p.count);
                lines
                    << (count.ok() && count.rowCount() == 1
                            ? QStringLiteral("    %1: %2 行").arg(p.table, count.rows[0].value(0).toString())
                            : QStringLiteral("    %1: (无法查询: %2)")
                                  .arg(p.table, serverWords(count.error)));
            }
        }
        if (!host_.deleteDatabasesTicked())
            return lines.join(QLatin1Char('\n'));

        lines << QStringLiteral("将删除的年度数据库:");
        const QStringList entries = DeletionSql::yearEntries(AccountCatalogue::trimSpaces(host_.yearText()));
        if (entries.isEmpty())
            lines << QStringLiteral("    (未填写年度)");
        for (const QString& year : entries)
            lines << QStringLiteral("    ") + databaseSummary(DeletionSql::databaseName(n_, year));
        return lines.join(QLatin1Char('\n'));
    }

    static bool hasTable(const SqlResult& tables, const QString& table) {
        for (qsizetype i = 0; i < tables.rowCount(); ++i) {
            if (field(tables, i, QStringLiteral("name")).compare(table, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }

    QString databaseSummary(const QString& db) {
        const SqlResult size = sql_.query(DeletionSql::databaseSize(db));
        if (!size.ok())
            return QStringLiteral("%1: (无法查询: %2)").arg(db, serverWords(size.error));
        const QVariant pages = size.rowCount() == 1 ? size.rows[0].value(0) : QVariant();
        if (!pages.isValid() || pages.isNull())
            return db + QStringLiteral(": 不存在");
        QStringList parts;
        parts << QString::number(pages.toLongLong() * 8.0 / 1024.0, 'f', 1) + QStringLiteral(" MB");
        const SqlResult state = sql_.query(DeletionSql::databaseState(db));
        parts << (state.ok() && state.rowCount() == 1 ? state.rows[0].value(0).toString()
                                                      : QStringLiteral("状态未知"));
        const SqlResult sessions = sql_.query(DeletionSql::databaseSessions(db));
        if (!sessions.ok())
            parts << QStringLiteral("连接未知");
        else if (sessions.rowCount() == 0)
            parts << QStringLiteral("无其他连接");
        else
            parts << QStringLiteral("%1 个连接: ").arg(sessions.rowCount()) + sessionList(sessions);
        return db + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
    }

    static QString sessionList(const SqlResult& sessions) {
        QStringList out;
        for (qsizetype i = 0; i < sessions.rowCount(); ++i) {
            out << QStringLiteral("会话%1(登录名 %2, 主机 %3, 程序 %4)")
                       .arg(field(sessions, i, QStringLiteral("spid")),
                            field(sessions, i, QStringLiteral("loginame")),
                            field(sessions, i, QStringLiteral("hostname")),
                            field(sessions, i, QStringLiteral("program_name")));
        }
        return out.join(QStringLiteral("; "));
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
        QStringList inUse;
        for (const QString& db : names) {
            const SqlResult r = sql_.query(DeletionSql::databaseSessions(db));
            if (!r.ok())
                return stopOnQueryFailure(r.error);
            if (r.rowCount() > 0)
                inUse << QStringLiteral("数据库%1: ").arg(db) + sessionList(r);
        }
        if (!inUse.isEmpty()) {
            host_.notice(QStringLiteral("以下数据库正在被其他连接使用,删除操作已停止,没有删除任何数据!\n") +
                         inUse.join(QLatin1Char('\n')) + QStringLiteral("\n请断开这些连接后重试。"));
            return false;
        }
        host_.yield();
        for (const QString& db : names) {
            const SqlError e = sql_.command(DeletionSql::dropDatabase(db));
            if (e.isError())
                failedDrops_.append({db, e});
            else
                dropped_ << db;
            host_.yield();
        }
        return true;
    }

    // Stages 3 and 4: the catalogue purge as one transaction, the verification and the report.
    Outcome purgeAndReport() {
        host_.showWait();
        host_.yield();
        const std::optional<SqlError> purgeError = purge();
        host_.closeWait();
        host_.yield();

        const SqlResult left = sql_.query(DeletionSql::accountVerification(n_));
        QStringList reasons;
        if (purgeError)
            reasons << serverWords(*purgeError);
        else if (!left.ok())
            reasons << serverWords(left.error);
        else if (left.rowCount() > 0)
            reasons << QStringLiteral("帐套%1仍在ua_account中").arg(n_);
        for (const FailedDrop& f : failedDrops_)
            reasons << f.database + QStringLiteral(": ") + serverWords(f.error);

        if (!purgeError && left.ok() && left.rowCount() == 0) {
            if (failedDrops_.isEmpty()) {
                host_.notice(host_.deleteDatabasesTicked() ? text::successWithYears(n_, years_)
                                                           : text::successEmpty(n_));
                return Outcome::Succeeded;
            }
            QString msg = QStringLiteral("帐套%1已从系统数据库中删除,但以下年度数据库未能删除:\n").arg(n_) +
                          failedNames().join(QLatin1Char('\n'));
            if (!dropped_.isEmpty())
                msg += QStringLiteral("\n已删除的年度数据库:\n") + dropped_.join(QLatin1Char('\n'));
            host_.notice(msg, reasons.join(QLatin1Char('\n')));
            return Outcome::PartlyFailed;
        }
        QString msg = text::failure();
        if (!dropped_.isEmpty())
            msg += QStringLiteral("\n以下年度数据库已删除,无法恢复:\n") + dropped_.join(QLatin1Char('\n'));
        if (!failedDrops_.isEmpty())
            msg += QStringLiteral("\n以下年度数据库未能删除:\n") + failedNames().join(QLatin1Char('\n'));
        host_.notice(msg, reasons.join(QLatin1Char('\n')));
        return Outcome::Failed;
    }

    QStringList failedNames() const {
        QStringList out;
        for (const FailedDrop& f : failedDrops_)
            out << f.database;
        return out;
    }

    // All ten deletes or none: tables this installation lacks are skipped, and the first failure
    // rolls back whatever ran before it.
    std::optional<SqlError> purge() {
        const SqlResult tables = sql_.query(DeletionSql::existingTables());
        if (!tables.ok())
            return tables.error;
        QStringList statements{DeletionSql::setXactAbort(), DeletionSql::beginTransaction()};
        for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(n_)) {
            if (hasTable(tables, p.table))
                statements << p.statement;
        }
        statements << DeletionSql::commitTransaction();
        for (const QString& statement : statements) {
            const SqlError e = sql_.command(statement);
            host_.yield();
            if (e.isError()) {
                // With XACT_ABORT the server has usually rolled back already; the explicit rollback
                // covers errors that leave the transaction open (e.g. an unknown name). Its own
                // failure ("no transaction") is expected and ignored.
                if (statement != DeletionSql::setXactAbort())
                    sql_.command(DeletionSql::rollbackTransaction());
                return e;
            }
        }
        return std::nullopt;
    }

    DeletionHost& host_;
    SqlClient& sql_;
    QString n_;
    bool ticked_ = false;
    QStringList entries_;
    QString years_;
    QStringList dropped_;
    QList<FailedDrop> failedDrops_;
};

}  // namespace

Outcome run(DeletionHost& host) {
    return Run(host).go();
}

}  // namespace deletion
