// The CTI request body and reply reading, without a network.
#include "app/constants.h"
#include "ui/operator/operatorstatus.h"

#include <QTest>
#include <QUrlQuery>

class tst_OperatorStatusReply : public QObject
{
    Q_OBJECT

private slots:
    void bodyKeepsFieldOrderAndNames()
    {
        QCOMPARE(OperatorStatus::request_body(QString(), QString(), QStringLiteral("0")),
            QByteArray("action=set_op_status&username=&passwrod=&status=0"));
        QCOMPARE(
            OperatorStatus::request_body(QStringLiteral("op1"), QStringLiteral("pw"), QStringLiteral("13")),
            QByteArray("action=set_op_status&username=op1&passwrod=pw&status=13"));
    }

    void bodyValuesCannotAddFields_data()
    {
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("password");
        QTest::newRow("ampersand and equals") << "op&x=1"
                                              << "p&status=9=";
        QTest::newRow("plus and percent") << "a+b"
                                          << "100%";
        QTest::newRow("spaces and non-ASCII") << "山田 太郎"
                                              << " pass word ";
        QTest::newRow("hash and question mark") << "#op"
                                                << "?x";
    }

    void bodyValuesCannotAddFields()
    {
        QFETCH(QString, username);
        QFETCH(QString, password);
        const QByteArray body = OperatorStatus::request_body(username, password, QStringLiteral("0"));
        // Decoded as a form, the server sees exactly four fields with the values as typed.
        const QUrlQuery form(QString::fromLatin1(body));
        const auto items = form.queryItems(QUrl::FullyDecoded);
        QCOMPARE(items.size(), 4);
        QCOMPARE(items[0].first, QStringLiteral("action"));
        QCOMPARE(items[1], qMakePair(QStringLiteral("username"), username));
        QCOMPARE(items[2], qMakePair(QStringLiteral("passwrod"), password));
        QCOMPARE(items[3], qMakePair(QStringLiteral("status"), QStringLiteral("0")));
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("shown");
        QTest::newRow("accepted") << QByteArray(R"({"result":0,"message":"ok"})") << 0 << "";
        QTest::newRow("authentication")
            << QByteArray(R"({"result":1,"message":"invalid"})") << 1 << "認証エラー\ninvalid";
        QTest::newRow("system, no message") << QByteArray(R"({"result":99})") << 99 << "システムエラー\n";
        QTest::newRow("2.9 truncates to 2")
            << QByteArray(R"({"result":2.9,"message":"m"})") << 2 << "サーバエラー\nm";
        QTest::newRow("-0.5 truncates to 0") << QByteArray(R"({"result":-0.5})") << 0 << "";
        QTest::newRow("1.7 is authentication") << QByteArray(R"({"result":1.7})") << 1 << "認証エラー\n";
        QTest::newRow("empty body") << QByteArray() << 100 << "サーバエラー\n";
        QTest::newRow("not JSON") << QByteArray("<html>502 Bad Gateway</html>") << 100 << "サーバエラー\n";
        QTest::newRow("array, not object") << QByteArray(R"([{"result":0}])") << 100 << "サーバエラー\n";
        QTest::newRow("number, not object") << QByteArray("0") << 100 << "サーバエラー\n";
        QTest::newRow("no result") << QByteArray(R"({"message":"down"})") << 100 << "サーバエラー\ndown";
        QTest::newRow("result as text") << QByteArray(R"({"result":"0"})") << 0 << "";
        QTest::newRow("result not a number") << QByteArray(R"({"result":"ok"})") << 100 << "サーバエラー\n";
        QTest::newRow("result null") << QByteArray(R"({"result":null})") << 100 << "サーバエラー\n";
        QTest::newRow("result too large") << QByteArray(R"({"result":1e300})") << 100 << "サーバエラー\n";
        QTest::newRow("result -2^31")
            << QByteArray(R"({"result":-2147483648})") << int(-2147483647 - 1) << "サーバエラー\n";
        QTest::newRow("message in Japanese")
            << QByteArray(R"({"result":1,"message":"パスワード違い"})") << 1 << "認証エラー\nパスワード違い";
        QTest::newRow("text ends at zero byte")
            << QByteArray("{\"result\":1}\0garbage", 20) << 1 << "認証エラー\n";
        QTest::newRow("numeric message")
            << QByteArray(R"({"result":99,"message":42})") << 99 << "システムエラー\n42";
    }

    void replies()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, result);
        QFETCH(QString, shown);
        const OperatorStatus::Reply reply = OperatorStatus::parse_reply(body);
        QCOMPARE(reply.result, result);
        QCOMPARE(OperatorStatus::reply_text(reply), shown);
    }

    void statusCodes()
    {
        const QList<int> expected { 0, 1, 11, 12, 13, 0, 0 };
        for (int index = 0; index < expected.size(); ++index)
            QCOMPARE(OperatorStatus::status_code(index), expected[index]);
        QCOMPARE(OperatorStatus::status_code(-1), 0);
    }
};

QTEST_GUILESS_MAIN(tst_OperatorStatusReply)
#include "tst_operatorstatus_reply.moc"
