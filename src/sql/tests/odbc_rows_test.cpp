// Rows read through the real driver stack against the sandbox: the block read of text results and
// the value-by-value read of the others give the same rows, Nulls and errors as the server sent.
#include <QTest>

#include "sandbox/Sandbox.h"
#include "sql/OdbcClient.h"
#include "support/TestMain.h"

class OdbcRowsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<sandbox::Server> server;
    std::unique_ptr<SqlClient> cnn;

    void fill(int count) {
        const std::string sql = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                                std::to_string(count) +
                                ") INSERT INTO ua_account (cacc_id, cacc_name) SELECT printf('%04d', i), "
                                "CASE WHEN i % 7 = 0 THEN "
                                "NULL WHEN i % 7 = 1 THEN '' ELSE '帐套''' || i END FROM n;";
        std::string error;
        QVERIFY2(server->engine().execRaw(sql, &error), error.c_str());
    }

private slots:
    void init() {
        server = std::make_unique<sandbox::Server>();
        std::string error;
        QVERIFY2(server->start(&error), error.c_str());
        server->engine().seedEmpty();
        cnn = makeOdbcClient();
        ConnectionSpec spec;
        spec.server = QString::fromStdString(server->serverName());
        spec.password = QStringLiteral("sandbox");
        QVERIFY(!cnn->open(spec).isError());
    }

    void cleanup() {
        cnn.reset();
        server.reset();
    }

    // Several blocks and a part block; a Null stays apart from an empty text.
    void textRowsInOrder() {
        fill(600);
        const SqlResult r = cnn->query(QStringLiteral("select cacc_id,cacc_name from ua_account"));
        QVERIFY(r.ok());
        QCOMPARE(r.columns, QStringList({"cacc_id", "cacc_name"}));
        QCOMPARE(r.rowCount(), 600);
        for (int i = 1; i <= 600; ++i) {
            const QVariantList& row = r.rows[i - 1];
            QCOMPARE(row.size(), 2);
            QCOMPARE(row[0], QVariant(QString::number(i).rightJustified(4, QLatin1Char('0'))));
            if (i % 7 == 0) {
                QVERIFY(!row[1].isValid());
            } else if (i % 7 == 1) {
                QVERIFY(row[1].isValid());
                QCOMPARE(row[1].toString(), QString());
            } else {
                QCOMPARE(row[1], QVariant(QStringLiteral("帐套'") + QString::number(i)));
            }
        }
        QVERIFY(
            cnn->query(QStringLiteral("select cacc_id from ua_account where cacc_id='x'")).rows.isEmpty());
    }

    // A result with a number keeps its types; the connection then reads text in blocks again.
    void otherColumnsValueByValue() {
        fill(3);
        SqlResult r = cnn->query(QStringLiteral("select count(*) from ua_account"));
        QVERIFY(r.ok());
        QCOMPARE(r.rows, QList<QVariantList>({{QVariant(3)}}));
        r = cnn->query(QStringLiteral("select cacc_name,cacc_id from ua_account"));
        QCOMPARE(r.rows, QList<QVariantList>(
                             {{QVariant(QString()), "0001"}, {"帐套'2", "0002"}, {"帐套'3", "0003"}}));
    }

    // A value that fills its column, with characters outside the BMP, arrives whole.
    void fullWidthValue() {
        const QString name = QString(20, QChar(0x5E10)) + QString::fromUtf8("😀").repeated(20);
        QCOMPARE(name.size(), 60);
        QVERIFY(server->engine().execRaw("INSERT INTO ua_account (cacc_id, cacc_name) VALUES ('001', '" +
                                         name.toStdString() + "');"));
        const SqlResult r = cnn->query(QStringLiteral("select cacc_id,cacc_name from ua_account"));
        QVERIFY(r.ok());
        QCOMPARE(r.rows, QList<QVariantList>({{"001", name}}));
        // Beside a number the text goes value by value; it must arrive whole there too.
        const SqlResult mixed = cnn->query(QStringLiteral("select cacc_name,iyear from ua_account"));
        QVERIFY(mixed.ok());
        QCOMPARE(mixed.rows, QList<QVariantList>({{name, QVariant()}}));
    }

    // Beside other types every value keeps its type and every character, however long.
    void everyTypeArrivesAsStored() {
        const QString longText = QString(QStringLiteral("账")).repeated(4000);
        QVERIFY(server->engine().execRaw(
            "CREATE TABLE typed (i int, b bigint, s smallint, f float, d datetime, t bit, n nvarchar(4000));"
            "INSERT INTO typed VALUES (-7, 9007199254740993, 3, 0.1, '2003-01-31 23:59:59.997', 1, '" +
            longText.toStdString() + "'), (NULL, NULL, NULL, NULL, NULL, NULL, '');"));
        const SqlResult r = cnn->query(QStringLiteral("select i,b,s,f,d,t,n from typed"));
        QVERIFY2(r.ok(), qPrintable(r.error.message));
        QCOMPARE(r.rowCount(), 2);
        const QVariantList& a = r.rows[0];
        QCOMPARE(a[0], QVariant(-7));
        QCOMPARE(a[1], QVariant(qlonglong(9007199254740993LL)));
        QCOMPARE(a[2], QVariant(3));
        QCOMPARE(a[3].toDouble(), 0.1);
        QCOMPARE(a[4].toDateTime(), QDateTime(QDate(2003, 1, 31), QTime(23, 59, 59, 997)));
        QCOMPARE(a[5].toInt(), 1);
        QCOMPARE(a[6].toString().size(), longText.size());
        QCOMPARE(a[6].toString(), longText);
        for (int c = 0; c < 6; ++c)
            QVERIFY2(!r.rows[1][c].isValid(), qPrintable(QString::number(c)));
        QCOMPARE(r.rows[1][6], QVariant(QString()));
    }
};

ACCTSET_TEST_CLASS(OdbcRowsTest)
#include "odbc_rows_test.moc"
