#include "app/dialrequest.h"

#include <QtTest>

// Links as browsers, CRMs and the desktop hand them over, and the command lines of a start.
class tst_DialRequest : public QObject
{
    Q_OBJECT

private slots:
    void dialledNumber_data();
    void dialledNumber();
    void refusedLink_data();
    void refusedLink();
    void droppedPartsAreReported();
    void logTextStaysOneLine();
    void arguments_data();
    void arguments();
};

void tst_DialRequest::dialledNumber_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("number");

    QTest::newRow("tel local") << "tel:03-1234-5678"
                               << "0312345678";
    QTest::newRow("tel global, context") << "tel:+81-3-1234-5678;phone-context=example.com"
                                         << "+81312345678";
    QTest::newRow("tel separators") << "tel:(03) 1234.5678"
                                    << "0312345678";
    QTest::newRow("tel encoded space") << "tel:03%201234%205678"
                                       << "0312345678";
    QTest::newRow("tel extension dropped") << "tel:0312345678;ext=22"
                                           << "0312345678";
    QTest::newRow("tel scheme upper case") << "TEL:110"
                                           << "110";
    QTest::newRow("tel star and hash") << "tel:*86%23"
                                       << "*86#";
    QTest::newRow("tel encoded plus") << "tel:%2B81312345678"
                                      << "+81312345678";
    QTest::newRow("sip user at host") << "sip:2002@pbx.example.com"
                                      << "2002";
    QTest::newRow("sip params and headers") << "sip:2002@10.0.0.1:5070;transport=tcp?subject=x"
                                            << "2002";
    QTest::newRow("sip user=phone") << "sip:+81-3-1234-5678;isub=1@example.com;user=phone"
                                    << "+81312345678";
    QTest::newRow("sip password") << "sip:2002:secret@example.com"
                                  << "2002";
    QTest::newRow("sips") << "sips:0312345678@example.com"
                          << "0312345678";
    QTest::newRow("callto") << "callto:0312345678"
                            << "0312345678";
    QTest::newRow("callto slashes") << "callto://+81312345678"
                                    << "+81312345678";
    QTest::newRow("32 digits") << QStringLiteral("tel:") + QString(32, QLatin1Char('1'))
                               << QString(32, QLatin1Char('1'));
    QTest::newRow("plus and 31 digits") << QStringLiteral("tel:+") + QString(31, QLatin1Char('1'))
                                        << QStringLiteral("+") + QString(31, QLatin1Char('1'));
}

void tst_DialRequest::dialledNumber()
{
    QFETCH(QString, link);
    QFETCH(QString, number);
    const DialRequest::Number parsed = DialRequest::parse_link(link);
    QVERIFY2(parsed.ok(), qPrintable(parsed.refusal));
    QCOMPARE(parsed.number, number);
    QVERIFY(parsed.refusal.isEmpty());
}

void tst_DialRequest::refusedLink_data()
{
    QTest::addColumn<QString>("link");

    QTest::newRow("empty tel") << "tel:";
    QTest::newRow("letters") << "tel:abc";
    QTest::newRow("hex digits of a local number") << "tel:70A2;phone-context=example.com";
    QTest::newRow("only separators") << "tel:--";
    QTest::newRow("only plus") << "tel:+";
    QTest::newRow("plus inside") << "tel:03+1234";
    QTest::newRow("200 digits") << QStringLiteral("tel:") + QString(200, QLatin1Char('5'));
    QTest::newRow("33 digits") << QStringLiteral("tel:") + QString(33, QLatin1Char('5'));
    QTest::newRow("plus and 32 digits") << QStringLiteral("tel:+") + QString(32, QLatin1Char('5'));
    QTest::newRow("javascript") << "javascript:alert(1)";
    QTest::newRow("http") << "http://example.com/tel:0312345678";
    QTest::newRow("no scheme") << "0312345678";
    QTest::newRow("newline") << "tel:0312\n345678";
    QTest::newRow("encoded newline") << "tel:0312%0A345678";
    QTest::newRow("trailing newline") << "tel:0312345678\n";
    QTest::newRow("encoded semicolon") << "tel:0312%3B345678";
    QTest::newRow("bad escape") << "tel:0312%G1";
    QTest::newRow("full-width digits") << QStringLiteral("tel:０３１２");
    QTest::newRow("sip without user") << "sip:example.com";
    QTest::newRow("sip name") << "sip:alice@example.com";
    QTest::newRow("oversized link") << QStringLiteral("tel:1;") + QString(5000, QLatin1Char('x'));
}

void tst_DialRequest::refusedLink()
{
    QFETCH(QString, link);
    const DialRequest::Number parsed = DialRequest::parse_link(link);
    QVERIFY2(!parsed.ok(), qPrintable(parsed.number));
    QVERIFY(parsed.number.isEmpty());
    QVERIFY(!parsed.refusal.isEmpty());
}

void tst_DialRequest::droppedPartsAreReported()
{
    const DialRequest::Number tel
        = DialRequest::parse_link(QStringLiteral("tel:+81-3-1234-5678;phone-context=example.com"));
    QCOMPARE(tel.dropped, QStringList { QStringLiteral(";phone-context=example.com") });
    const DialRequest::Number sip
        = DialRequest::parse_link(QStringLiteral("sip:2002:secret@pbx.example.com?subject=x"));
    QVERIFY(sip.dropped.contains(QStringLiteral("?subject=x")));
    QVERIFY(sip.dropped.contains(QStringLiteral("host pbx.example.com")));
    // The password is left out, and never written anywhere.
    QVERIFY(!sip.dropped.join(QLatin1Char(' ')).contains(QStringLiteral("secret")));
    QVERIFY(DialRequest::parse_link(QStringLiteral("tel:0312345678")).dropped.isEmpty());
}

void tst_DialRequest::logTextStaysOneLine()
{
    const QString shown = DialRequest::for_log(QStringLiteral("tel:1\n[2026-01-01 00:00:00] forged\r"));
    QVERIFY(!shown.contains(QLatin1Char('\n')));
    QVERIFY(!shown.contains(QLatin1Char('\r')));
    QVERIFY(shown.contains(QStringLiteral("\\x0a")));
    const QString longLink = QStringLiteral("tel:") + QString(5000, QLatin1Char('1'));
    QVERIFY(DialRequest::for_log(longLink).size() < 120);
    QVERIFY(DialRequest::for_log(longLink).contains(QStringLiteral("5004")));
}

void tst_DialRequest::arguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("link");
    QTest::addColumn<int>("notes");

    QTest::newRow("none") << QStringList() << QString() << 0;
    QTest::newRow("tel link") << QStringList { "tel:03-1234-5678" } << "tel:03-1234-5678" << 0;
    QTest::newRow("sip link") << QStringList { "sip:2002@example.com" } << "sip:2002@example.com" << 0;
    QTest::newRow("refused later") << QStringList { "javascript:alert(1)" } << "javascript:alert(1)" << 0;
    QTest::newRow("--dial number") << QStringList { "--dial", "03-1234-5678" } << "tel:03-1234-5678" << 0;
    QTest::newRow("--dial=number") << QStringList { "--dial=+81312345678" } << "tel:+81312345678" << 0;
    QTest::newRow("--dial link") << QStringList { "--dial", "sip:2002@example.com" } << "sip:2002@example.com"
                                 << 0;
    QTest::newRow("--dial without number") << QStringList { "--dial" } << QString() << 1;
    QTest::newRow("bare number") << QStringList { "0312345678" } << QString() << 1;
    QTest::newRow("second link") << QStringList { "tel:1", "tel:2" } << "tel:1" << 1;
    QTest::newRow("qt options left alone") << QStringList { "-platform", "xcb", "tel:110" } << "tel:110" << 0;
}

void tst_DialRequest::arguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, link);
    QFETCH(int, notes);
    const DialRequest::Arguments parsed = DialRequest::from_arguments(arguments);
    QCOMPARE(parsed.link, link);
    QCOMPARE(parsed.notes.size(), notes);
}

QTEST_APPLESS_MAIN(tst_DialRequest)
#include "tst_dialrequest.moc"
