// States, hazards and sql_variant as real clients meet them: QtSql's ODBC driver over FreeTDS, and tsql.

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "sandbox/Sandbox.h"
#include "support/TestMain.h"

namespace {

const QString kPassword = QStringLiteral("St@te-2026");

}  // namespace

class SandboxStatesDriverTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<sandbox::Server> server;
    QString connectionName;

    // The connection the tool makes: FreeTDS at protocol 7.4, UTF-8.
    QSqlDatabase odbc() {
        connectionName = QStringLiteral("states_driver");
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), connectionName);
        db.setDatabaseName(QStringLiteral("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;UID=sa;PWD={%2};"
                                          "DATABASE=TQSystem;TDS_Version=7.4;ClientCharset=UTF-8")
                               .arg(server->port())
                               .arg(kPassword));
        return db;
    }

    // The one value of a one-row result, or the server's message when the statement failed.
    static QVariant single(QSqlDatabase& db, const QString& sql, QString* error = nullptr) {
        QSqlQuery q(db);
        q.setForwardOnly(true);  // as the tool reads: no server cursor
        if (!q.exec(sql)) {
            if (error)
                *error = q.lastError().databaseText();
            return {};
        }
        return q.next() ? q.value(0) : QVariant();
    }

private slots:
    void init() {
        sandbox::Options options;
        options.password = kPassword.toStdString();
        server = std::make_unique<sandbox::Server>(options);
        server->engine().seedDemo();
        std::string error;
        QVERIFY2(server->start(&error), error.c_str());
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC")))
            QSKIP("QODBC not installed");
    }

    void cleanup() {
        if (!connectionName.isEmpty()) {
            QSqlDatabase::database(connectionName, false).close();
            QSqlDatabase::removeDatabase(connectionName);
        }
        server.reset();
    }

    // DATABASEPROPERTYEX is sql_variant on the wire, as a real server sends it. This driver stack
    // hands the variant's nvarchar bytes over as 8-bit text: UTF-16LE, so the value shows as "O"
    // (up to its first NUL). That is why the tool converts it in the statement; the converted value
    // is an ordinary nvarchar.
    void variantReadsAsARealServersDoes() {
        QSqlDatabase db = odbc();
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        const QString plain = single(db, "select DATABASEPROPERTYEX('tqdata_001_2003','Status')").toString();
        QCOMPARE(plain, QString::fromLatin1("O\0N\0L\0I\0N\0E\0", 12));
        QCOMPARE(plain.left(plain.indexOf(QChar(0))), QString("O"));
        QCOMPARE(single(db, "select convert(nvarchar(128), DATABASEPROPERTYEX('tqdata_001_2003','Status'))")
                     .toString(),
                 QString("ONLINE"));
        server->engine().setDatabaseState("tqdata_001_2004", "RECOVERY_PENDING");
        QCOMPARE(single(db, "select cast(DATABASEPROPERTYEX('tqdata_001_2004','Status') as nvarchar(128))")
                     .toString(),
                 QString("RECOVERY_PENDING"));
        QVERIFY(single(db, "select convert(nvarchar(128), DATABASEPROPERTYEX('nosuch','Status'))").isNull());
        QCOMPARE(single(db, "select convert(nvarchar(128), SERVERPROPERTY('ProductVersion'))").toString(),
                 QString("15.0.2000.5"));  // the release played by default
    }

    // tsql prints the variant's value whole.
    void tsqlShowsTheVariant() {
        const QString exe = QStandardPaths::findExecutable(QStringLiteral("tsql"));
        if (exe.isEmpty())
            QSKIP("tsql not installed (freetds-bin)");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        p.setProcessEnvironment(env);
        p.start(exe, {"-H", "127.0.0.1", "-p", QString::number(server->port()), "-U", "sa", "-P", kPassword,
                      "-v", "7.4"});
        p.write(
            "select DATABASEPROPERTYEX('tqdata_001_2003','Status'), "
            "DATABASEPROPERTYEX('nosuch','Status')\ngo\n");
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(20000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(out.contains("\nONLINE\tNULL\n"), qPrintable(out));
    }

    // RESTORE HEADERONLY and FILELISTONLY as the tool reads them before a restore: the columns by
    // name, and values of the types the server documents (tinyint, numeric, uniqueidentifier, char).
    void restoreListingsThroughTheDriver() {
        QTemporaryDir dir;
        server->engine().setBackupDirectory(dir.path().toStdString());
        QSqlDatabase db = odbc();
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        q.setForwardOnly(true);
        QVERIFY2(q.exec("BACKUP DATABASE [tqdata_001_2003] TO DISK = N'x.bak' WITH COPY_ONLY, CHECKSUM"),
                 qPrintable(q.lastError().text()));
        QVERIFY2(q.exec("RESTORE HEADERONLY FROM DISK = N'x.bak'"), qPrintable(q.lastError().text()));
        const QSqlRecord header = q.record();
        QCOMPARE(header.fieldName(0), QString("BackupName"));
        QCOMPARE(header.indexOf("IsCopyOnly"), 43);
        QVERIFY(q.next());
        const qint64 size = QFileInfo(dir.filePath("x.bak")).size();
        QCOMPARE(QStringList({q.value("BackupType").toString(), q.value("DeviceType").toString(),
                              q.value("UserName").toString(), q.value("DatabaseName").toString(),
                              q.value("BackupSize").toString(), q.value("CompatibilityLevel").toString(),
                              q.value("IsCopyOnly").toString(), q.value("RecoveryModel").toString()}),
                 QStringList({"1", "2", "sa", "tqdata_001_2003", QString::number(size), "80", "1", "FULL"}));
        QVERIFY(QRegularExpression("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$",
                                   QRegularExpression::CaseInsensitiveOption)
                    .match(q.value("BindingID").toString())
                    .hasMatch());
        QVERIFY(q.value("BackupName").isNull());
        QVERIFY2(q.exec("RESTORE FILELISTONLY FROM DISK = N'x.bak'"), qPrintable(q.lastError().text()));
        QStringList files;
        while (q.next())
            files << q.value("LogicalName").toString() + "|" + q.value("Type").toString() + "|" +
                         (q.value("FileGroupName").isNull() ? "NULL" : q.value("FileGroupName").toString()) +
                         "|" + q.value("FileID").toString();
        QCOMPARE(files, QStringList({"tqdata_001_2003_Data|D|PRIMARY|1", "tqdata_001_2003_Log|L|NULL|2"}));
    }

    // The server's own words reach the client for each hazard; nothing is dropped for them, and
    // an OFFLINE database is dropped with its files left on disk.
    void dropMeetsHazardsAndStates() {
        sandbox::Engine& e = server->engine();
        QVERIFY(e.setDatabaseHazard("tqdata_001_2002", "snapshot"));
        QVERIFY(e.setDatabaseHazard("tqdata_001_2003", "published"));
        QVERIFY(e.setDatabaseState("tqdata_001_2004", "OFFLINE"));
        QSqlDatabase db = odbc();
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QString error;
        single(db, "drop database [tqdata_001_2002]", &error);
        QVERIFY2(
            error.contains("Cannot drop the database while the database snapshot \"snap_tqdata_001_2002\" "
                           "refers to it. Drop that database first."),
            qPrintable(error));
        error.clear();
        single(db, "drop database [tqdata_001_2003]", &error);
        QVERIFY2(error.contains("Cannot drop the database 'tqdata_001_2003' because it is being used for "
                                "replication."),
                 qPrintable(error));
        QCOMPARE(single(db,
                        "select count(*) from master.sys.databases where name like 'tqdata[_]001[_]%' "
                        "and state_desc = 'ONLINE'")
                     .toInt(),
                 2);
        QCOMPARE(single(db, "select state_desc from master.sys.databases where name = 'tqdata_001_2004'")
                     .toString(),
                 QString("OFFLINE"));
        error.clear();
        single(db, "drop database [tqdata_001_2004]", &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(e.databaseExists("tqdata_001_2002") && e.databaseExists("tqdata_001_2003"));
        QVERIFY(!e.databaseExists("tqdata_001_2004"));
        QCOMPARE(e.orphanedFiles().size(), size_t(2));
    }
};

ACCTSET_TEST_CLASS(SandboxStatesDriverTest)
#include "sandbox_states_driver_test.moc"
