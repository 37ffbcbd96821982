// Database states and hazards driven through the engine: DROP DATABASE's refusals, files left on
// disk, USE in each state, sys.databases, sys.database_mirroring and DATABASEPROPERTYEX.

#include <QtTest>

#include "EngineResults.h"
#include "sandbox/Engine.h"
#include "support/TestMain.h"

using namespace sandbox;
using namespace sandbox::testing;

namespace {

struct Server : DemoEngine {
    bool exists(const std::string& name) { return engine.databaseExists(name); }
};

}  // namespace

class SandboxStatesTest : public QObject {
    Q_OBJECT

private slots:
    // Texts as sys.messages holds them (Database Engine events and errors 3000 to 3999; 3752 as
    // KB 2857849 quotes it). Nothing is dropped, and a name listed after the refused one still is.
    void hazardsRefuseTheDrop_data() {
        QTest::addColumn<QString>("hazard");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("snapshot") << "snapshot" << 3709
                                  << "Cannot drop the database while the database snapshot "
                                     "\"snap_tqdata_001_2002\" refers to it. Drop that database first.";
        QTest::newRow("published") << "published" << 3724
                                   << "Cannot drop the database 'tqdata_001_2002' because it is being used "
                                      "for replication.";
        QTest::newRow("mirrored") << "mirrored" << 3743
                                  << "The database 'tqdata_001_2002' is enabled for database mirroring. "
                                     "Database mirroring must be removed before you drop the database.";
        QTest::newRow("availability group")
            << "ag" << 3752
            << "The database 'tqdata_001_2002' is currently joined to an availability group. Before you can "
               "drop the database, you need to remove it from the availability group.";
    }

    void hazardsRefuseTheDrop() {
        QFETCH(QString, hazard);
        QFETCH(int, number);
        QFETCH(QString, text);
        Server f;
        QVERIFY(f.engine.setDatabaseHazard("TQDATA_001_2002", hazard.toStdString()));
        BatchResult r = f.run("drop database tqdata_001_2002, tqdata_001_2003");
        QCOMPARE(errorNumber(r), number);
        QCOMPARE(errorText(r), text);
        QCOMPARE(firstError(r)->severity, 16);
        QVERIFY(f.exists("tqdata_001_2002"));
        QVERIFY(!f.exists("tqdata_001_2003"));
    }

    // A snapshot is a database of its own: listed, read-only, dropped first; then its source goes.
    void snapshotIsItsOwnDatabase() {
        Server f;
        QVERIFY(f.engine.setDatabaseHazard("tqdata_001_2002", "snapshot"));
        QCOMPARE(
            resultRows(f.run("select s.name, s.is_read_only, DATABASEPROPERTYEX(s.name, 'Updateability') "
                             "from sys.databases s where s.source_database_id = DB_ID('tqdata_001_2002')")),
            QStringList({"snap_tqdata_001_2002|1|READ_ONLY"}));
        QCOMPARE(errorNumber(f.run("drop database snap_tqdata_001_2002")), 0);
        QCOMPARE(errorNumber(f.run("drop database tqdata_001_2002")), 0);
        QVERIFY(!f.exists("tqdata_001_2002"));
        QVERIFY(f.engine.orphanedFiles().empty());
    }

    // DROP DATABASE, Remarks: any state may be dropped; an OFFLINE database's files stay on disk.
    void everyStateDrops_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("filesStay");
        for (const char* s : {"RESTORING", "RECOVERING", "RECOVERY_PENDING", "SUSPECT", "EMERGENCY"})
            QTest::newRow(s) << s << false;
        QTest::newRow("OFFLINE") << "OFFLINE" << true;
    }

    void everyStateDrops() {
        QFETCH(QString, state);
        QFETCH(bool, filesStay);
        Server f;
        QVERIFY(f.engine.setDatabaseState("tqdata_002_2003", state.toStdString()));
        QCOMPARE(errorNumber(f.run("drop database tqdata_002_2003")), 0);
        QVERIFY(!f.exists("tqdata_002_2003"));
        const std::vector<std::string> expected{"C:\\SQLDATA\\MSSQL\\Data\\tqdata_002_2003.mdf",
                                                "C:\\SQLDATA\\MSSQL\\Data\\tqdata_002_2003_log.ldf"};
        QCOMPARE(f.engine.orphanedFiles(), filesStay ? expected : std::vector<std::string>{});
        QCOMPARE(resultRows(f.run("select count(*) from master.dbo.sysaltfiles where filename like "
                                  "'%tqdata[_]002[_]2003%'")),
                 QStringList({"0"}));
    }

    void useInEachState_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("tail");
        QTest::newRow("OFFLINE") << "OFFLINE" << 942 << "cannot be opened because it is offline.";
        QTest::newRow("RESTORING") << "RESTORING" << 927
                                   << "cannot be opened. It is in the middle of a restore.";
        QTest::newRow("SUSPECT")
            << "SUSPECT" << 926
            << "cannot be opened. It has been marked SUSPECT by recovery. See the SQL Server "
               "errorlog for more information.";
        QTest::newRow("RECOVERING") << "RECOVERING" << 922
                                    << "is being recovered. Waiting until recovery is finished.";
        QTest::newRow("EMERGENCY: sa is sysadmin") << "EMERGENCY" << 0 << "";
        QTest::newRow("RESTRICTED_USER: sa is sysadmin") << "RESTRICTED_USER" << 0 << "";
    }

    void useInEachState() {
        QFETCH(QString, state);
        QFETCH(int, number);
        QFETCH(QString, tail);
        Server f;
        QVERIFY(f.engine.setDatabaseState("tqdata_001_2004", state.toStdString()));
        BatchResult r = f.run("use tqdata_001_2004");
        QCOMPARE(errorNumber(r), number);
        if (number)
            QCOMPARE(errorText(r), "Database 'tqdata_001_2004' " + tail);
    }

    // SINGLE_USER held by another session: that session's USE succeeded first; ours is 924 and
    // the drop is 3702, as for any database in use.
    void singleUserHeldByAnother() {
        Server f;
        QVERIFY(f.engine.setDatabaseState("tqdata_001_2004", "SINGLE_USER"));
        auto other = f.engine.openSession("TQSystem", "sa", "desk-02", "voucher");
        QCOMPARE(errorNumber(f.engine.execBatch(*other, "use tqdata_001_2004")), 0);
        QCOMPARE(errorNumber(f.run("use tqdata_001_2004")), 924);
        QCOMPARE(errorNumber(f.run("drop database tqdata_001_2004")), 3702);
        f.engine.closeSession(*other);
        QCOMPARE(errorNumber(f.run("drop database tqdata_001_2004")), 0);
    }

    void catalogueViewsAnswerPerState() {
        Server f;
        QVERIFY(f.engine.setDatabaseState("tqdata_001_2003", "offline"));
        QVERIFY(f.engine.setDatabaseState("tqdata_001_2003", "RESTRICTED_USER"));
        QVERIFY(f.engine.setDatabaseHazard("tqdata_001_2004", "published"));
        QVERIFY(f.engine.setDatabaseHazard("tqdata_002_2003", "mirrored"));
        QVERIFY(f.engine.setDatabaseHazard("tqdata_002_2004", "ag"));
        QVERIFY(!f.engine.setDatabaseState("tqdata_001_2003", "ASLEEP"));
        QVERIFY(!f.engine.setDatabaseHazard("nosuch", "ag"));
        QCOMPARE(
            resultRows(f.run(
                "select name, state, state_desc, user_access, user_access_desc, is_published, "
                "collation_name, replica_id from sys.databases where name like 'tqdata[_]00[12][_]200[34]' "
                "order by name")),
            QStringList({"tqdata_001_2003|6|OFFLINE|2|RESTRICTED_USER|0|NULL|NULL",
                         "tqdata_001_2004|0|ONLINE|0|MULTI_USER|1|Chinese_PRC_CI_AS|NULL",
                         "tqdata_002_2003|0|ONLINE|0|MULTI_USER|0|Chinese_PRC_CI_AS|NULL",
                         "tqdata_002_2004|0|ONLINE|0|MULTI_USER|0|Chinese_PRC_CI_AS|"
                         "a9a9a9a9-0000-4000-8000-000000000010"}));
        QCOMPARE(resultRows(f.run("select mirroring_role_desc, mirroring_guid from sys.database_mirroring "
                                  "where database_id in (DB_ID('tqdata_002_2003'), DB_ID('tqdata_001_2003')) "
                                  "order by database_id")),
                 QStringList({"NULL|NULL", "PRINCIPAL|d8d8d8d8-0000-4000-8000-000000000009"}));
        QCOMPARE(resultRows(f.run("select DATABASEPROPERTYEX('tqdata_001_2003','Status'), "
                                  "DATABASEPROPERTYEX('tqdata_001_2003','UserAccess'), "
                                  "DATABASEPROPERTYEX('tqdata_001_2003','Updateability'), "
                                  "DATABASEPROPERTYEX('tqdata_001_2003','Recovery'), "
                                  "DATABASEPROPERTYEX('tqdata_001_2003','Collation')")),
                 QStringList({"OFFLINE|RESTRICTED_USER|READ_WRITE|FULL|NULL"}));
        // 65544 as stored, with 512 (offline) and 2048 (dbo use only).
        QCOMPARE(f.rows("select status from master.dbo.sysdatabases where name = 'tqdata_001_2003'"),
                 QStringList({QString::number(65544 | 512 | 2048)}));
    }

    // A seed file sets the same columns (sandbox/seeds/schema.sql documents them).
    void seedColumnsSetStatesAndHazards() {
        Server f;
        QVERIFY(
            f.engine.execRaw("UPDATE sandbox_databases SET state = 'SUSPECT', is_published = 1 "
                             "WHERE name = 'tqdata_003_2004'"));
        QCOMPARE(
            resultRows(f.run("select state_desc from master.sys.databases where name = 'tqdata_003_2004'")),
            QStringList({"SUSPECT"}));
        QCOMPARE(errorNumber(f.run("drop database tqdata_003_2004")), 3724);
    }
};

ACCTSET_TEST_CLASS(SandboxStatesTest)
#include "sandbox_states_test.moc"
