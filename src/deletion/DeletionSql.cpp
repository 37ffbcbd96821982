#include "deletion/DeletionSql.h"

#include "sql/SqlText.h"

namespace DeletionSql {

namespace {

using SqlText::quoted;

QString idList(const QStringList& databaseNames) {
    QStringList ids;
    for (const QString& name : databaseNames)
        ids << QStringLiteral("DB_ID(") + quoted(name) + QLatin1Char(')');
    return ids.join(QLatin1Char(','));
}

QString nquoted(const QString& text) {
    return QStringLiteral("N'") + SqlText::literal(text) + QLatin1Char('\'');
}

QString nameList(const QStringList& databaseNames) {
    QStringList names;
    for (const QString& name : databaseNames)
        names << quoted(name);
    return names.join(QLatin1Char(','));
}

struct TableHead {
    const char* table;
    const char* head;  // the delete up to the number
};

// Heads keep the mixed case and spacing the installations' own scripts use.
constexpr TableHead kHeads[] = {
    {"UA_Period", "DELETE FROM UA_Period WHERE cacc_id = "},
    {"UA_holdauth", "DELETE FROM UA_holdauth WHERE cacc_id = "},
    {"UA_log", "DELETE FROM UA_log WHERE cacc_id = "},
    {"Ua_Identity", "Delete from Ua_Identity where cacc_id="},
    {"Ua_auth", "Delete from Ua_auth where cacc_id="},
    {"UA_BackupPlans", "Delete from UA_BackupPlans where cacc_id="},
    {"UA_BackupLog", "Delete from UA_BackupLog where cacc_id="},
    {"UA_account_sub", "DELETE FROM UA_account_sub WHERE cacc_id = "},
    {"UA_account", "DELETE FROM UA_account WHERE cacc_id = "},
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
    // Every session using a database holds a shared DATABASE lock on it, whether it is the
    // session's current database or only named in three-part names; sysprocesses.dbid sees only
    // the former and lists parallel workers once each. sys.dm_tran_locks and sys.dm_exec_sessions
    // exist from 2005 on:
    // https://learn.microsoft.com/sql/relational-databases/system-dynamic-management-views/sys-dm-tran-locks-transact-sql
    return QStringLiteral(
               "select distinct l.request_session_id as spid,db_name(l.resource_database_id) as dbname,"
               "s.login_name,s.host_name,s.program_name from sys.dm_tran_locks l join sys.dm_exec_sessions s "
               "on s.session_id=l.request_session_id where l.resource_type='DATABASE' and "
               "l.resource_database_id in (") +
           idList(databaseNames) + QStringLiteral(") and l.request_session_id<>@@SPID");
}

QString databasesListed(const QStringList& databaseNames) {
    return QStringLiteral("select name from master.dbo.sysdatabases where name in (") +
           nameList(databaseNames) + QLatin1Char(')');
}

QString databaseFiles(const QStringList& databaseNames) {
    // sys.master_files lists an OFFLINE database's files too (2005 on):
    // https://learn.microsoft.com/sql/relational-databases/system-catalog-views/sys-master-files-transact-sql
    return QStringLiteral(
               "select DB_NAME(database_id) as dbname,physical_name from sys.master_files where "
               "database_id in (") +
           idList(databaseNames) + QStringLiteral(") order by database_id,file_id");
}

QString serverVersion() {
    // SERVERPROPERTY returns sql_variant, which the driver stack cannot read back whole.
    return QStringLiteral("select convert(nvarchar(128),SERVERPROPERTY('ProductVersion'))");
}

DatabaseHazards databaseHazards(const QStringList& databaseNames, bool availabilityGroups) {
    // Columns of sys.databases (2008 R2 on; replica_id from 2012):
    // https://learn.microsoft.com/sql/relational-databases/system-catalog-views/sys-databases-transact-sql
    // Mirroring:
    // https://learn.microsoft.com/sql/relational-databases/system-catalog-views/sys-database-mirroring-transact-sql
    return {QStringLiteral("select name,state_desc,user_access_desc,is_published,is_subscribed,"
                           "is_merge_published") +
                (availabilityGroups ? QStringLiteral(",convert(nvarchar(36),replica_id) as replica_id")
                                    : QString()) +
                QStringLiteral(" from sys.databases where name in (") + nameList(databaseNames) +
                QLatin1Char(')'),
            QStringLiteral("select name,db_name(source_database_id) as source from sys.databases where "
                           "source_database_id in (") +
                idList(databaseNames) + QLatin1Char(')'),
            QStringLiteral("select db_name(database_id) as name,mirroring_role_desc from "
                           "sys.database_mirroring where mirroring_guid is not null and database_id in (") +
                idList(databaseNames) + QLatin1Char(')')};
}

LockHolders lockHolders() {
    // After a lock time-out the waiting request is gone, so blocked / blocking_session_id no longer
    // point at anyone; the holder's locks are still there (unless it ended meanwhile). Every writer
    // holds at least an intent lock on the table's OBJECT. The sessions with an open transaction
    // come first: the lock rows name the holder exactly where the server lists them, the open
    // transactions (sysprocesses.open_tran, 2008 R2 on) narrow it down where it does not.
    // https://learn.microsoft.com/sql/relational-databases/system-compatibility-views/sys-sysprocesses-transact-sql
    QStringList ids;
    for (const QString& table : purgeTables())
        ids << QStringLiteral("OBJECT_ID('") + table + QStringLiteral("')");
    return {QStringLiteral("select spid,loginame as login_name,hostname as host_name,program_name from "
                           "master.dbo.sysprocesses where open_tran>0 and spid<>@@SPID"),
            QStringLiteral(
                "select distinct l.request_session_id as spid,s.login_name,s.host_name,s.program_name from "
                "sys.dm_tran_locks l join sys.dm_exec_sessions s on s.session_id=l.request_session_id where "
                "l.resource_type='OBJECT' and l.resource_database_id=DB_ID() and "
                "l.resource_associated_entity_id in (") +
                ids.join(QLatin1Char(',')) + QStringLiteral(") and l.request_session_id<>@@SPID")};
}

QString databaseSize(const QString& databaseName) {
    return QStringLiteral("select sum(size) from master.dbo.sysaltfiles where dbid=DB_ID(") +
           quoted(databaseName) + QLatin1Char(')');
}

QString databaseState(const QString& databaseName) {
    // DATABASEPROPERTYEX returns sql_variant; the driver stack reads only its first letter.
    return QStringLiteral("select convert(nvarchar(128),DATABASEPROPERTYEX(") + quoted(databaseName) +
           QStringLiteral(",'Status'))");
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
    // rows of account set N0 (tqdata_0010_…) and of names like tqdataX001. The bare name is matched
    // with "=", which ignores trailing blanks; LIKE with a Unicode operand does not, and would leave
    // 'tqdata_001 ' or a padded nchar value behind:
    // https://learn.microsoft.com/sql/t-sql/language-elements/like-transact-sql (Pattern match with LIKE)
    return QStringLiteral("Ea_Account = ") + quoted(QStringLiteral("tqdata_") + accountNo) +
           QStringLiteral(" or Ea_Account like ") +
           quoted(QStringLiteral("tqdata[_]") + likeEscaped(accountNo) + QStringLiteral("[_]%"));
}

QList<PurgeStatement> purgeStatements(const QString& accountNo) {
    QList<PurgeStatement> out;
    const QString eai = eaiLogCondition(accountNo);
    out.append({QStringLiteral("EAILog"), QStringLiteral("Delete from EAILog where ") + eai,
                QStringLiteral("select count(*) from EAILog where ") + eai,
                QStringLiteral("select * from EAILog where ") + eai, eai});
    const QString value = quoted(accountNo);
    for (const TableHead& t : kHeads) {
        const QString table = QString::fromLatin1(t.table);
        // The rows with the same condition as the delete, so the script holds exactly what it removes.
        out.append(
            {table, QString::fromLatin1(t.head) + value,
             QStringLiteral("select count(*) from ") + table + QStringLiteral(" where cacc_id=") + value,
             QStringLiteral("select * from ") + table + QStringLiteral(" where cacc_id=") + value,
             QStringLiteral("cacc_id=") + value});
    }
    return out;
}

QStringList purgeTables() {
    QStringList names{QStringLiteral("EAILog")};
    for (const TableHead& t : kHeads)
        names << QString::fromLatin1(t.table);
    return names;
}

bool isRegistrationTable(const QString& table) {
    return table.compare(QStringLiteral("UA_account"), Qt::CaseInsensitive) == 0;
}

QString existingTables() {
    QStringList names;
    for (const QString& table : purgeTables())
        names << QLatin1Char('\'') + table + QLatin1Char('\'');
    return QStringLiteral("select name from sysobjects where xtype='U' and name in (") +
           names.join(QLatin1Char(',')) + QLatin1Char(')');
}

// The system type, so alias types (sysname, user types) are written as their base type; rowversion
// is the system type named timestamp
// (https://learn.microsoft.com/en-us/sql/relational-databases/system-catalog-views/sys-columns-transact-sql,
// https://learn.microsoft.com/en-us/sql/t-sql/functions/type-name-transact-sql).
QString tableColumns(const QString& table) {
    return QStringLiteral(
               "select c.name, TYPE_NAME(c.system_type_id), c.is_identity, c.is_computed from sys.columns c "
               "where c.object_id = OBJECT_ID('") +
           table + QStringLiteral("') order by c.column_id");
}

// SERVERPROPERTY('InstanceDefaultBackupPath') exists from SQL Server 2019 (15.x); an unknown
// property gives Null on older versions
// (https://learn.microsoft.com/en-us/sql/t-sql/functions/serverproperty-transact-sql).
QString defaultBackupDirectory() {
    return QStringLiteral("select convert(nvarchar(4000), SERVERPROPERTY('InstanceDefaultBackupPath'))");
}

// Before 2019 the folder lives only in the instance's registry key BackupDirectory, which the
// instance-aware reader resolves for named instances too.
QString registryBackupDirectory() {
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
QString backupDatabase(const QString& db, const QString& file) {
    return QStringLiteral("BACKUP DATABASE ") + SqlText::bracketed(db) + QStringLiteral(" TO DISK = ") +
           nquoted(file) + QStringLiteral(" WITH COPY_ONLY, CHECKSUM, INIT");
}

// https://learn.microsoft.com/en-us/sql/t-sql/statements/restore-statements-verifyonly-transact-sql
QString verifyBackup(const QString& file) {
    return QStringLiteral("RESTORE VERIFYONLY FROM DISK = ") + nquoted(file) +
           QStringLiteral(" WITH CHECKSUM");
}

// percent_complete is filled for BACKUP and RESTORE
// (https://learn.microsoft.com/en-us/sql/relational-databases/system-dynamic-management-views/sys-dm-exec-requests-transact-sql).
QString percentComplete(int session) {
    return QStringLiteral("select percent_complete from sys.dm_exec_requests where session_id=") +
           QString::number(session);
}

QString savedRowsSummary(const PurgeStatement& p) {
    // BINARY_CHECKSUM(*) leaves out text, ntext, image and xml columns; the count still sees a row
    // added or removed there:
    // https://learn.microsoft.com/en-us/sql/t-sql/functions/binary-checksum-transact-sql
    return QStringLiteral("select count(*),checksum_agg(binary_checksum(*)) from ") + p.table +
           QStringLiteral(" where ") + p.condition;
}

QString savedRowsGuard(const PurgeStatement& p, qsizetype count, const QVariant& checksum) {
    // UPDLOCK with HOLDLOCK keeps the rows, and the range they would be added to, as read until the
    // transaction ends, so that the delete removes exactly what was compared:
    // https://learn.microsoft.com/en-us/sql/t-sql/queries/hints-transact-sql-table
    // RAISERROR does not end the batch under XACT_ABORT; RETURN does, before the delete.
    const QString from =
        QStringLiteral(" from ") + p.table + QStringLiteral(" with (updlock,holdlock) where ") + p.condition;
    const qlonglong sum = checksum.isValid() && !checksum.isNull() ? checksum.toLongLong() : 0;
    return QStringLiteral("if (select count(*)") + from + QStringLiteral(")<>") + QString::number(count) +
           QStringLiteral(" or isnull((select checksum_agg(binary_checksum(*))") + from +
           QStringLiteral("),0)<>") + QString::number(sum) + QStringLiteral(" begin raiserror(N'%s',16,1,") +
           quoted(p.table) + QStringLiteral(") return end");
}

QString claimDatabase(const QString& databaseName) {
    // https://learn.microsoft.com/en-us/sql/t-sql/statements/alter-database-transact-sql-set-options
    return QStringLiteral("alter database ") + SqlText::bracketed(databaseName) +
           QStringLiteral(" set single_user with no_wait");
}

QString releaseDatabase(const QString& databaseName) {
    return QStringLiteral("alter database ") + SqlText::bracketed(databaseName) +
           QStringLiteral(" set multi_user");
}

// What the server reads in a backup file, before it restores from it:
// https://learn.microsoft.com/en-us/sql/t-sql/statements/restore-statements-headeronly-transact-sql
// https://learn.microsoft.com/en-us/sql/t-sql/statements/restore-statements-filelistonly-transact-sql
QString backupHeader(const QString& file) {
    return QStringLiteral("RESTORE HEADERONLY FROM DISK = ") + nquoted(file);
}
QString backupFileList(const QString& file) {
    return QStringLiteral("RESTORE FILELISTONLY FROM DISK = ") + nquoted(file);
}

// As the undo script restores: REPLACE only over the files an OFFLINE database left behind.
QString restoreDatabase(const QString& db, const QString& file, bool replace) {
    return QStringLiteral("RESTORE DATABASE ") + SqlText::bracketed(db) + QStringLiteral(" FROM DISK = ") +
           nquoted(file) +
           (replace ? QStringLiteral(" WITH REPLACE, RECOVERY") : QStringLiteral(" WITH RECOVERY"));
}

// family_guid stays the same through every restore of a database and differs for one created anew
// under its name; HEADERONLY's FamilyGUID is the same value
// (https://learn.microsoft.com/en-us/sql/relational-databases/system-catalog-views/sys-database-recovery-status-transact-sql).
QString restoreTargets(const QStringList& databaseNames) {
    return QStringLiteral(
               "select d.name, d.state_desc, d.create_date, r.family_guid from sys.databases d left join "
               "sys.database_recovery_status r on r.database_id = d.database_id where d.name in (") +
           nameList(databaseNames) + QLatin1Char(')');
}

// Inside the restore's transaction: none of the account set's rows may be in the table, and none
// may come in until it ends.
QString noRowsGuard(const PurgeStatement& p) {
    return QStringLiteral("if exists (select * from ") + p.table +
           QStringLiteral(" with (updlock,holdlock) where ") + p.condition +
           QStringLiteral(") begin raiserror(N'%s',16,1,") + quoted(p.table) + QStringLiteral(") return end");
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
