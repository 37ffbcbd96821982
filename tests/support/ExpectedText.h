#pragma once
// The statements and messages the tool must produce, written out as they must read, so a test
// never checks the tool's text builders against themselves.

#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace Expected {

// Sent once right after every log-in.
inline const QString kSessionSetup = QStringLiteral("SET LOCK_TIMEOUT 10000;\nSET XACT_ABORT ON");
inline const QString kList = QStringLiteral("select cacc_id,cacc_name from ua_account");
inline const QString kConnectFailed =
    QStringLiteral("数据库连接失败,请检查数据库服务是否启动或输入的服务器名称是否实际存在!");
inline const QString kEncryptionFailed =
    QStringLiteral("数据库连接失败,无法与数据库服务器协商连接的加密(TLS)!");
inline QString clearLoginQuestion(const QString& server) {
    return QStringLiteral("数据库服务器“") + server +
           QStringLiteral(
               "”不支持加密连接(TLS)。\n\n如果继续连接,sa 的口令将不受保护地在网络上传送"
               "(只作了简单的可逆变换,等同明文),此后的全部语句和数据(帐套号、帐套名称等)也都是明文,"
               "网络上的其他人可以读取,甚至篡改。\n\n是否仍然以不加密的方式连接?");
}
inline QString instanceNotFound(int seconds, const QString& instance) {
    return QStringLiteral("数据库连接失败,在等待的 ") + QString::number(seconds) +
           QStringLiteral(" 秒内未找到数据库实例“") + instance +
           QStringLiteral("”!请检查实例名称是否正确、服务器上的 SQL Server Browser 服务是否启动。");
}
inline const QString kDeleteFailed =
    QStringLiteral("删除操作失败,请重试!(可能数据库连接超时或其他原因导致操作故障)");
inline const QString kTables = QStringLiteral(
    "select name from sysobjects where xtype='U' and name in ('EAILog','UA_Period','UA_holdauth','UA_log',"
    "'Ua_Identity','Ua_auth','UA_BackupPlans','UA_BackupLog','UA_account_sub','UA_account')");
inline const QStringList kPurgeTables{"EAILog",         "UA_Period", "UA_holdauth",    "UA_log",
                                      "Ua_Identity",    "Ua_auth",   "UA_BackupPlans", "UA_BackupLog",
                                      "UA_account_sub", "UA_account"};

inline QString years(const QString& accNo) {
    return QStringLiteral(
               "select distinct(iyear) from tqsystem.dbo.ua_period where iyear<>'9999' and cacc_id='") +
           accNo + QStringLiteral("' order by iyear desc");
}

inline QString lookup(const QString& accNo) {
    return QStringLiteral("select * from ua_account where cacc_id='") + accNo + QLatin1Char('\'');
}

inline const QString kVersion =
    QStringLiteral("select convert(nvarchar(128),SERVERPROPERTY('ProductVersion'))");

inline QString idsOf(const QStringList& dbs) {
    return "DB_ID('" + dbs.join("'),DB_ID('") + "')";
}

// The other sessions holding a database lock on any of these databases.
inline QString sessionsOf(const QStringList& dbs) {
    return "select distinct l.request_session_id as spid,db_name(l.resource_database_id) as "
           "dbname,s.login_name,"
           "s.host_name,s.program_name from sys.dm_tran_locks l join sys.dm_exec_sessions s on "
           "s.session_id=l.request_session_id where l.resource_type='DATABASE' and l.resource_database_id in "
           "(" +
           idsOf(dbs) + ") and l.request_session_id<>@@SPID";
}

inline QString stateOf(const QString& db) {
    return "select convert(nvarchar(128),DATABASEPROPERTYEX('" + db + "','Status'))";
}

// The one check before the first drop: states, snapshots, mirroring, then the sessions.
inline QString checksOf(const QStringList& dbs, bool availabilityGroups = true) {
    return QStringList{
        "select name,state_desc,user_access_desc,is_published,is_subscribed,is_merge_published" +
            QString(availabilityGroups ? ",convert(nvarchar(36),replica_id) as replica_id" : "") +
            " from sys.databases where name in ('" + dbs.join("','") + "')",
        "select name,db_name(source_database_id) as source from sys.databases where "
        "source_database_id in (" +
            idsOf(dbs) + ")",
        "select db_name(database_id) as name,mirroring_role_desc from sys.database_mirroring where "
        "mirroring_guid is not null and database_id in (" +
            idsOf(dbs) + ")",
        sessionsOf(dbs)}
        .join(";\n");
}

// The deletes of account set 001 that reach the server, in order, for the tables that exist.
inline QStringList purgeOf001(const QStringList& tables = kPurgeTables) {
    const QList<QPair<QString, QString>> all{
        {"EAILog",
         "Delete from EAILog where Ea_Account = 'tqdata_001' or Ea_Account like 'tqdata[_]001[_]%'"},
        {"UA_Period", "DELETE FROM UA_Period WHERE cacc_id = '001'"},
        {"UA_holdauth", "DELETE FROM UA_holdauth WHERE cacc_id = '001'"},
        {"UA_log", "DELETE FROM UA_log WHERE cacc_id = '001'"},
        {"Ua_Identity", "Delete from Ua_Identity where cacc_id='001'"},
        {"Ua_auth", "Delete from Ua_auth where cacc_id='001'"},
        {"UA_BackupPlans", "Delete from UA_BackupPlans where cacc_id='001'"},
        {"UA_BackupLog", "Delete from UA_BackupLog where cacc_id='001'"},
        {"UA_account_sub", "DELETE FROM UA_account_sub WHERE cacc_id = '001'"},
        {"UA_account", "DELETE FROM UA_account WHERE cacc_id = '001'"},
    };
    QStringList out;
    for (const auto& [table, statement] : all) {
        if (!tables.contains(table))
            continue;
        // Each delete follows the comparison of its rows with the undo script's, the saved count and
        // checksum as N (see guardsAsN).
        const QString cond =
            table == "EAILog" ? statement.mid(statement.indexOf(" where ") + 7) : QString("cacc_id='001'");
        const QString from = " from " + table + " with (updlock,holdlock) where " + cond;
        out << "if (select count(*)" + from + ")<>N or isnull((select checksum_agg(binary_checksum(*))" +
                   from + "),0)<>N begin raiserror(N'%s',16,1,'" + table + "') return end"
            << statement;
    }
    return out;
}

// A log with the comparisons' saved counts and checksums as N, for comparing with purgeOf001().
inline QStringList guardsAsN(QStringList log) {
    static const QRegularExpression number(QStringLiteral(R"(\)<>-?\d+)"));
    for (QString& s : log) {
        if (s.contains(QStringLiteral("with (updlock,holdlock)")))
            s.replace(number, QStringLiteral(")<>N"));
    }
    return log;
}

// What the first confirmation asks about backups: this session, and each database's last full
// backup.
inline QStringList backupPreview(const QStringList& dbs) {
    QStringList out{"select @@SPID"};
    for (const QString& db : dbs)
        out << "select max(backup_finish_date) from msdb.dbo.backupset where database_name=N'" + db +
                   "' and type='D'";
    return out;
}

// The second confirmation names the server's default backup folder.
inline const QString kBackupFolder =
    QStringLiteral("select convert(nvarchar(4000), SERVERPROPERTY('InstanceDefaultBackupPath'))");

// The backup and verification of each database into dir (times as <time>), watched from a second
// connection.
inline QStringList backupsOf(const QString& dir, const QStringList& dbs) {
    QStringList out{"OPEN srv"};  // the second connection
    for (const QString& db : dbs) {
        const QString file = dir + db + "_<time>.bak";
        out << "BACKUP DATABASE [" + db + "] TO DISK = N'" + file + "' WITH COPY_ONLY, CHECKSUM, INIT"
            << "RESTORE VERIFYONLY FROM DISK = N'" + file + "' WITH CHECKSUM";
    }
    return out;
}

// The rows of account set 001 the purge will delete, with their columns, for the undo script. The
// registration row is the look-up's: only its columns are read.
inline QStringList undoReadOf001() {
    QStringList out{"select @@SERVERNAME"};
    const QStringList rows{
        "select * from EAILog where Ea_Account = 'tqdata_001' or Ea_Account like 'tqdata[_]001[_]%'",
        "select * from UA_Period where cacc_id='001'",
        "select * from UA_holdauth where cacc_id='001'",
        "select * from UA_log where cacc_id='001'",
        "select * from Ua_Identity where cacc_id='001'",
        "select * from Ua_auth where cacc_id='001'",
        "select * from UA_BackupPlans where cacc_id='001'",
        "select * from UA_BackupLog where cacc_id='001'",
        "select * from UA_account_sub where cacc_id='001'",
        "select * from UA_account where cacc_id='001'"};
    for (qsizetype i = 0; i < rows.size(); ++i) {
        out << "select c.name, TYPE_NAME(c.system_type_id), c.is_identity, c.is_computed from sys.columns c "
               "where c.object_id = OBJECT_ID('" +
                   kPurgeTables[i] + "') order by c.column_id"
            << QString(rows[i]).replace("select * from ",
                                        "select count(*),checksum_agg(binary_checksum(*)) from ")
            << rows[i];
    }
    return out;
}

}  // namespace Expected
