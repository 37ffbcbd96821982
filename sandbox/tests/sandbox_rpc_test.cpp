// Statements called as procedures (sp_executesql, sp_prepare/sp_prepexec/sp_execute/sp_unprepare):
// parameters bound to their typed values, and the clients that call them: tedious, isql, QtSql.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QtTest>
#include <memory>

#include "sandbox/Sandbox.h"
#include "sandbox/tds/AllHeaders.h"
#include "sandbox/tds/Bytes.h"
#include "sandbox/tds/Rpc.h"
#include "sandbox/tds/Tokens.h"
#include "support/TestMain.h"

using namespace sandbox::tds;

namespace {

const QString kPassword = QStringLiteral("Rpc#2026");

RpcParam text(const std::string& name, const std::string& value) {
    RpcParam p;
    p.name = name;
    p.null = false;
    p.text = value;
    return p;
}

RpcParam integer(const std::string& name, int64_t value) {
    RpcParam p;
    p.name = name;
    p.null = false;
    p.isInt = true;
    p.kind = RpcParam::Kind::Int;
    p.i = value;
    return p;
}

}  // namespace

class SandboxRpcTest : public QObject {
    Q_OBJECT

    std::unique_ptr<sandbox::Server> server;

    void startServer() {
        sandbox::Options options;
        options.password = kPassword.toStdString();
        server = std::make_unique<sandbox::Server>(options);
        server->engine().seedDemo();
        std::string error;
        QVERIFY2(server->start(&error), error.c_str());
    }

private slots:
    void cleanup() { server.reset(); }

    void bindsParametersByNameAndPosition_data() {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("declaration");
        QTest::addColumn<bool>("named");
        QTest::addColumn<QString>("bound");
        const QString decl = "@id nvarchar(3), @n decimal(10,2), @id2 int";
        QTest::newRow("by name, any case") << "select 1 where @ID = c and @n > @id2" << decl << true
                                           << "select 1 where N'0''1' = c and 7 > -2";
        QTest::newRow("by declared order")
            << "select @id, @n, @id2" << decl << false << "select N'0''1', 7, -2";
        QTest::newRow("quotes, brackets, comments and globals left alone")
            << "select '@id', [@id], \"@id\", @@spid -- @id\n/* @id */ , @id" << decl << true
            << "select '@id', [@id], \"@id\", @@spid -- @id\n/* @id */ , N'0''1'";
        QTest::newRow("doubled quote inside a string")
            << "select 'it''s @id', @id" << decl << true << "select 'it''s @id', N'0''1'";
        QTest::newRow("an undeclared name stays for the server to refuse")
            << "select @other" << decl << true << "select @other";
    }
    void bindsParametersByNameAndPosition() {
        QFETCH(QString, statement);
        QFETCH(QString, declaration);
        QFETCH(bool, named);
        QFETCH(QString, bound);
        std::vector<RpcParam> values{text(named ? "@id" : "", "0'1"), integer(named ? "@N" : "", 7),
                                     integer(named ? "id2" : "", -2)};
        QCOMPARE(QString::fromStdString(
                     bindParameters(statement.toStdString(), declaration.toStdString(), values)),
                 bound);
    }

    // Each type a client binds, as its TYPE_INFO and value arrive, and the literal it becomes.
    void readsTypedParameters() {
        const Dialect d;
        Writer w;
        writeAllHeaders(w, d, 0);
        w.u16(0xFFFF);
        w.u16(10);  // sp_executesql
        w.u16(0);
        auto name = [&](const char* n, uint8_t type) {
            w.bVarchar(n);
            w.u8(0);
            w.u8(type);
        };
        name("@dec", 0x6A);  // DECIMALN(10, 2) = -1234.05
        w.u8(17);
        w.u8(10);
        w.u8(2);
        w.u8(5);
        w.u8(0);
        w.u32(123405);
        name("@small", 0x6C);  // NUMERICN(5, 3) = 0.007
        w.u8(5);
        w.u8(5);
        w.u8(3);
        w.u8(5);
        w.u8(1);
        w.u32(7);
        name("@f", 0x6D);  // FLTN(8) = 2.5
        w.u8(8);
        w.u8(8);
        const double f = 2.5;
        uint64_t fb;
        std::memcpy(&fb, &f, 8);
        w.u64(fb);
        name("@when", 0x6F);  // DATETIMEN(8) = 2003-12-31 23:59:59.997
        w.u8(8);
        w.u8(8);
        w.u32(37984);  // days after 1900-01-01
        w.u32(25919999);
        name("@bit", 0x68);  // BITN = 1
        w.u8(1);
        w.u8(1);
        w.u8(1);
        name("@bin", 0xA5);  // BIGVARBINARY = 0x0AFF
        w.u16(8000);
        w.u16(2);
        w.u8(0x0A);
        w.u8(0xFF);
        name("@v", 0xA7);  // BIGVARCHAR, NULL
        w.u16(8000);
        w.bytes(kCollation, 5);
        w.u16(0xFFFF);
        RpcRequest rpc = RpcRequest::decode(w.data(), d);
        QVERIFY(rpc.paramsRead);
        QStringList literals;
        for (const auto& p : rpc.params)
            literals << QString::fromStdString(p.sqlLiteral());
        QCOMPARE(literals, QStringList({"-1234.05", "0.007", "2.5", "'2003-12-31 23:59:59.997'", "1",
                                        "0x0AFF", "NULL"}));
    }

    // tedious's execSql (sp_executesql) and prepare/execute/unprepare, over a whole session in TLS.
    void tediousStatements() {
        startServer();
        // Set by CTest: where its fixture installed tedious, and the script.
        const QString modules = qEnvironmentVariable("ACCTSET_NODE_MODULES");
        const QString script = qEnvironmentVariable("ACCTSET_TEDIOUS_SCRIPT");
        QVERIFY2(!modules.isEmpty() && !script.isEmpty(), "run through CTest, which installs tedious first");
        QVERIFY2(QFile::exists(modules + "/tedious/package.json"),
                 "tedious is not installed: its CTest fixture (npm install) failed or did not run");
        QProcess node;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NODE_PATH", modules);
        node.setProcessEnvironment(env);
        node.start("node", {script, QString::number(server->port()), kPassword});
        QVERIFY2(node.waitForFinished(60000), "node did not finish");
        QCOMPARE(node.exitCode(), 0);
        QStringList seen;
        for (const QByteArray& line : node.readAllStandardOutput().split('\n')) {
            if (line.trimmed().isEmpty())
                continue;
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            seen << o["what"].toString() + "|" + o["error"].toString() + "|" +
                        QString::fromUtf8(QJsonDocument(o["rows"].toArray()).toJson(QJsonDocument::Compact));
        }
        QCOMPARE(seen, QStringList({R"(execSql||[["001","示例帐套"]])",
                                    R"(execSql error|207 Invalid column name 'nosuch'.|[])",
                                    R"(execute||[["002","演示公司"]])", R"(execute||[["003",null]])",
                                    "unprepare||[]"}));
        // tedious asks for encryption, and a server as installed then encrypts everything.
        const auto records = server->connections();
        QCOMPARE(records.size(), size_t(1));
        QVERIFY(records[0].stayedEncrypted());
    }

    // isql prepares every statement (sp_prepexec) and unprepares it.
    void isqlStatements() {
        startServer();
        const QString isql = QStandardPaths::findExecutable("isql");
        QVERIFY2(!isql.isEmpty(), "isql (unixodbc) is not installed");
        QProcess p;
        p.start(isql, {"-v", "-b", "-k",
                       QString("DRIVER=FreeTDS;SERVER=127.0.0.1;PORT=%1;UID=sa;PWD=%2;DATABASE=TQSystem;"
                               "TDS_Version=7.4;ClientCharset=UTF-8")
                           .arg(server->port())
                           .arg(kPassword)});
        p.write(
            "select cacc_id, cacc_name from ua_account where cacc_id='002'\n"
            "select nosuch from ua_account\n");
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(30000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(out.contains(QRegularExpression(R"(\| 002\s+\| 演示公司\s+\|)")), qPrintable(out));
        QVERIFY2(out.contains("1 rows fetched"), qPrintable(out));
        QVERIFY2(out.contains("Invalid column name 'nosuch'."), qPrintable(out));
        QVERIFY2(!out.contains("Could not find stored procedure"), qPrintable(out));
    }

    // QtSql's prepared query with bound values: sp_prepexec, then sp_execute with new values.
    void qtPreparedQuery() {
        startServer();
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC")))
            QFAIL("QODBC not installed");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), "rpc");
            db.setDatabaseName(QString("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;UID=sa;PWD={%2};"
                                       "DATABASE=TQSystem;TDS_Version=7.4;ClientCharset=UTF-8")
                                   .arg(server->port())
                                   .arg(kPassword));
            QVERIFY2(db.open(), qPrintable(db.lastError().text()));
            QSqlQuery q(db);
            q.setForwardOnly(true);
            QVERIFY(q.prepare("select cacc_id from ua_account where cacc_id = ? and ? = 1"));
            QStringList found;
            for (const auto& [acc, wanted] :
                 {std::pair{"002", 1}, std::pair{"001", 0}, std::pair{"003", 1}}) {
                q.addBindValue(QString::fromLatin1(acc));
                q.addBindValue(wanted);
                QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
                found << (q.next() ? q.value(0).toString() : QStringLiteral("-"));
            }
            QCOMPARE(found, QStringList({"002", "-", "003"}));
        }
        QSqlDatabase::removeDatabase("rpc");
    }
};

ACCTSET_TEST_CLASS(SandboxRpcTest)
#include "sandbox_rpc_test.moc"
