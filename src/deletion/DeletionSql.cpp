#include "deletion/DeletionSql.h"

#include "catalogue/SqlText.h"

namespace DeletionSql {

namespace {

QString quoted(const QString& value) {
    return QLatin1Char('\'') + SqlText::literal(value) + QLatin1Char('\'');
}

struct TableHead {
    const char* table;
    const char* head;  // the delete up to the opening quote of the number
};

// Heads keep the mixed case and spacing the installations' own scripts use.
constexpr TableHead kHeads[] = {
    {"UA_Period", "DELETE FROM UA_Period WHERE cacc_id = '"},
    {"UA_holdauth", "DELETE FROM UA_holdauth WHERE cacc_id = '"},
    {"UA_log", "DELETE FROM UA_log WHERE cacc_id = '"},
    {"Ua_Identity", "Delete from Ua_Identity where cacc_id='"},
    {"Ua_auth", "Delete from Ua_auth where cacc_id='"},
    {"UA_BackupPlans", "Delete from UA_BackupPlans where cacc_id='"},
    {"UA_BackupLog", "Delete from UA_BackupLog where cacc_id='"},
    {"UA_account_sub", "DELETE FROM UA_account_sub WHERE cacc_id = '"},
    {"UA_account", "DELETE FROM UA_account WHERE cacc_id = '"},
};

}  // namespace

QString databaseName(const QString& accountNo, const QString& year) {
    return QStringLiteral("tqdata_") + accountNo + QLatin1Char('_') + year;
}

QString accountLookup(const QString& accountNo) {
    return QStringLiteral("select * from ua_account where cAcc_id=") + quoted(accountNo);
}

QString accountVerification(const QString& accountNo) {
    return QStringLiteral("select * from ua_account where cacc_id=") + quoted(accountNo);
}

QString databaseExists(const QString& databaseName) {
    return QStringLiteral("select * from master.dbo.sysdatabases where name=") + quoted(databaseName);
}

QString dropDatabase(const QString& databaseName) {
    return QStringLiteral("drop database ") + SqlText::bracketed(databaseName);
}

QString databaseSessions(const QStringList& databaseNames) {
    QStringList ids;
    for (const QString& name : databaseNames)
        ids << QStringLiteral("DB_ID(") + quoted(name) + QLatin1Char(')');
    return QStringLiteral(
               "select spid,loginame,hostname,program_name,db_name(dbid) as dbname from "
               "master.dbo.sysprocesses where dbid in (") +
           ids.join(QLatin1Char(',')) + QStringLiteral(") and spid<>@@SPID");
}

QString databasesListed(const QStringList& databaseNames) {
    QStringList names;
    for (const QString& name : databaseNames)
        names << quoted(name);
    return QStringLiteral("select name from master.dbo.sysdatabases where name in (") +
           names.join(QLatin1Char(',')) + QLatin1Char(')');
}

QString databaseSize(const QString& databaseName) {
    return QStringLiteral("select sum(size) from master.dbo.sysaltfiles where dbid=DB_ID(") +
           quoted(databaseName) + QLatin1Char(')');
}

QString databaseState(const QString& databaseName) {
    return QStringLiteral("select DATABASEPROPERTYEX(") + quoted(databaseName) + QStringLiteral(",'Status')");
}

QString likeEscaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == QLatin1Char('[') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            out += QLatin1Char('[') + c + QLatin1Char(']');
        else
            out += c;
    }
    return out;
}

QString eaiLogCondition(const QString& accountNo) {
    // The "_" after tqdata and after N must be literal: the plain pattern tqdata_N% also took the
    // rows of account set N0 (tqdata_0010_…) and of names like tqdataX001.
    const QString head = QStringLiteral("tqdata[_]") + SqlText::literal(likeEscaped(accountNo));
    return QStringLiteral("Ea_Account like '") + head + QStringLiteral("' or Ea_Account like '") + head +
           QStringLiteral("[_]%'");
}

QList<PurgeStatement> purgeStatements(const QString& accountNo) {
    QList<PurgeStatement> out;
    const QString eai = eaiLogCondition(accountNo);
    out.append({QStringLiteral("EAILog"), QStringLiteral("Delete from EAILog where ") + eai,
                QStringLiteral("select count(*) from EAILog where ") + eai});
    const QString value = SqlText::literal(accountNo) + QLatin1Char('\'');
    for (const TableHead& t : kHeads) {
        const QString table = QString::fromLatin1(t.table);
        out.append(
            {table, QString::fromLatin1(t.head) + value,
             QStringLiteral("select count(*) from ") + table + QStringLiteral(" where cacc_id='") + value});
    }
    return out;
}

QString existingTables() {
    QStringList names;
    names << QStringLiteral("'EAILog'");
    for (const TableHead& t : kHeads)
        names << QLatin1Char('\'') + QString::fromLatin1(t.table) + QLatin1Char('\'');
    return QStringLiteral("select name from sysobjects where xtype='U' and name in (") +
           names.join(QLatin1Char(',')) + QLatin1Char(')');
}

QString setXactAbort() {
    return QStringLiteral("SET XACT_ABORT ON");
}
QString beginTransaction() {
    return QStringLiteral("BEGIN TRANSACTION");
}
QString commitTransaction() {
    return QStringLiteral("COMMIT TRANSACTION");
}
QString rollbackTransaction() {
    return QStringLiteral("ROLLBACK TRANSACTION");
}

}  // namespace DeletionSql
