// The protocol messages on their own: each writer read back by its reader, and the packet framing.

#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

#include "sandbox/Text.h"
#include "sandbox/tds/Bytes.h"
#include "sandbox/tds/Login7.h"
#include "sandbox/tds/Packet.h"
#include "sandbox/tds/Prelogin.h"
#include "sandbox/tds/Rpc.h"
#include "sandbox/tds/SqlBatch.h"
#include "sandbox/tds/TransactionManager.h"
#include "sandbox/tds/Transport.h"
#include "support/TestMain.h"

using namespace sandbox::tds;

class SandboxTdsTest : public QObject {
    Q_OBJECT

private slots:
    void preloginAnswerReadsBack() {
        const auto bytes = Prelogin::serverAnswer().encode();
        // [MS-TDS] 2.2.6.5: VERSION first, at offset 5 * 5 + 1, six bytes long.
        QCOMPARE(int(bytes[0]), 0);
        QCOMPARE((bytes[1] << 8) | bytes[2], 26);
        Prelogin back = Prelogin::decode(bytes);
        QVERIFY(back.find(kPreloginEncryption));
        QCOMPARE(int(back.find(kPreloginEncryption)->data.at(0)), int(kEncryptNotSup));
        QCOMPARE(back.find(kPreloginVersion)->data.size(), size_t(6));
        QVERIFY(!back.find(0x07));
        std::vector<uint8_t> outside = {kPreloginEncryption, 0, 0x40, 0, 1, kPreloginTerminator};
        QVERIFY_THROWS_EXCEPTION(ProtocolError, Prelogin::decode(outside));
    }

    void login7ReadsBackWithScrambledPasswordAndFeatures() {
        Login7 l;
        l.host = "主机";
        l.user = "sa";
        l.password = "Sa;nd#2026}";
        l.app = "acctset";
        l.database = "UFDATA_001_2024";
        l.packetSize = 8192;
        l.utf8Feature = true;
        const auto bytes = l.encode();
        // The password is never on the wire as UTF-16 text.
        const QByteArray raw(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
        QVERIFY(!raw.contains(QByteArray("S\0a\0;\0", 6)));
        Login7 back = Login7::decode(bytes);
        QCOMPARE(back.host, l.host);
        QCOMPARE(back.password, l.password);
        QCOMPARE(back.database, l.database);
        QCOMPARE(back.packetSize, 8192u);
        QVERIFY(back.utf8Feature);
        l.tdsVersion = 0x72090002;  // features are a 7.4 matter
        QVERIFY(!Login7::decode(l.encode()).utf8Feature);
    }

    void requestsReadBackInEveryDialect() {
        for (uint32_t v : {0x71000001u, 0x74000004u}) {
            const Dialect d = Dialect::fromLogin(v);
            QCOMPARE(SqlBatch::decode(SqlBatch{"select N'帐套'"}.encode(d, 7), d).sql, "select N'帐套'");

            RpcRequest rpc{.name = "sp_cursoropen", .options = 0, .params = {}};
            rpc.params.push_back({.name = "@cursor", .output = true, .isInt = true, .null = false, .i = -3});
            rpc.params.push_back({.name = "@stmt", .null = false, .text = "set textsize 100 on"});
            rpc.params.push_back({.name = "@none"});
            RpcRequest back = RpcRequest::decode(rpc.encode(d), d);
            QVERIFY(back.paramsRead);
            QCOMPARE(back.name, rpc.name);
            QCOMPARE(back.params.size(), size_t(3));
            QCOMPARE(back.params[0].i, -3);
            QVERIFY(back.params[0].output);
            QCOMPARE(back.params[1].text, rpc.params[1].text);
            QVERIFY(back.params[2].null);

            TransactionManagerRequest commit{.type = kTmCommitXact, .name = {}, .beginAfter = true};
            auto statements = TransactionManagerRequest::decode(commit.encode(d), d).statements();
            QCOMPARE(statements, (std::vector<std::string>{"COMMIT TRANSACTION", "BEGIN TRANSACTION"}));
        }
    }

    void rpcByNumberAndParameterOfUnknownType() {
        const Dialect d;
        Writer w;
        w.u32(22);
        w.u32(18);
        w.u16(2);
        w.u64(0);
        w.u32(1);
        w.u16(0xFFFF);
        w.u16(2);  // sp_cursoropen
        w.u16(0);
        w.bVarchar("@p");
        w.u8(0);
        w.u8(0x22);  // IMAGE: not offered
        RpcRequest rpc = RpcRequest::decode(w.data(), d);
        QCOMPARE(rpc.name, "sp_cursoropen");
        QVERIFY(!rpc.paramsRead);
    }

    // One rule for a malformed byte, on the wire and in comparisons alike: it is one U+FFFD, and
    // the text after it is still read.
    void malformedUtf8IsOneReplacementPerByte() {
        const std::string bad =
            "a\xC3(\x80\xE5\x90"
            "b\xF0\x9F\x98\x80";
        const std::u32string expected = U"a\uFFFD(\uFFFD\uFFFD\uFFFDb\U0001F600";
        QVERIFY(sandbox::decodeUtf8(bad) == expected);
        QVERIFY(sandbox::utf8ToUtf16(bad) == u"a\uFFFD(\uFFFD\uFFFD\uFFFDb\U0001F600");
        QCOMPARE(sandbox::encodeUtf8(expected), sandbox::utf16ToUtf8(sandbox::utf8ToUtf16(bad)));
        QCOMPARE(sandbox::utf16ToUtf8(u"x\xD800y"), std::string("x\xEF\xBF\xBDy"));  // a lone surrogate
        QCOMPARE(sandbox::lower("ABC_Äx"), std::string("abc_Äx"));
    }

    // A message split into packets by one side is joined whole by the other, through the transport.
    void framingAcrossPacketsThroughTheTransport() {
        int pair[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        int wake[2];
        QCOMPARE(::pipe(wake), 0);
        std::vector<uint8_t> payload(10000);
        for (size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<uint8_t>(i * 7);
        auto bytes = framePackets(kSqlBatch, payload, 512, 51);
        QCOMPARE(bytes.size(), payload.size() + 20 * kHeaderSize);
        Transport writer(pair[0], wake[0]), reader(pair[1], wake[0]);
        QVERIFY(writer.write(bytes.data(), bytes.size()));
        uint8_t type = 0;
        std::vector<uint8_t> got;
        QVERIFY(readMessage(reader, &type, &got));
        QCOMPARE(type, uint8_t(kSqlBatch));
        QVERIFY(got == payload);
        // The server stopping wakes a read that waits for the client.
        char b = 1;
        QCOMPARE(::write(wake[1], &b, 1), 1);
        QVERIFY(!readMessage(reader, &type, &got));
        for (int fd : {pair[0], pair[1], wake[0], wake[1]})
            ::close(fd);
    }
};

ACCTSET_TEST_CLASS(SandboxTdsTest)
#include "sandbox_tds_test.moc"
