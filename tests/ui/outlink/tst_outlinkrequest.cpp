#include "app/constants.h"
#include "tests/support/http/httptestserver.h"
#include "ui/outlink/outlinkrequest.h"

#include <QtTest>

using Params = QMap<QString, QString>;
using namespace OutlinkRequest;

// The outlink request and detail link built from a call, the account and the outlink settings:
// separators, trimming and line rules, GET/POST selection, the detail link, and the one-pass,
// percent-encoded placeholder replacement that keeps callers from injecting fields or
// pulling in the operator's password.
class tst_OutlinkRequest : public QObject
{
    Q_OBJECT

private:
    static Params call(const QString &name = QStringLiteral("ABC"), const QString &id = QStringLiteral("201"))
    {
        return { { "callerName", name }, { "callerId", id }, { "callId", "c-77@host" } };
    }
    static Params account()
    {
        return { { "userId", "1001" }, { "operatorId", "op7" }, { "operatorPW", "pw!secret" } };
    }
    static Params values(
        const QString &name = QStringLiteral("ABC"), const QString &id = QStringLiteral("201"))
    {
        return placeholder_values(call(name, id), account());
    }
    static QString getUrl(const QString &base, const QString &params, const QString &method = QString(),
        const Params &vals = values())
    {
        const SimpleRequest r = simple_request(
            { { "simpleUrl", base }, { "simpleParams", params }, { "simpleMethod", method } }, vals);
        return QString::fromLatin1(r.url.toEncoded());
    }

private slots:
    void expansionLinesAndSeparators_data();
    void expansionLinesAndSeparators();
    void methodSelection_data();
    void methodSelection();
    void detailLink_data();
    void detailLink();
    void callerValuesAreEncodedAndNeverRescanned_data();
    void callerValuesAreEncodedAndNeverRescanned();
    void formDecodingOfTheQueryGivesTheCallerBack_data();
    void formDecodingOfTheQueryGivesTheCallerBack();
    void missingValuesReplaceByNothing();
};

void tst_OutlinkRequest::expansionLinesAndSeparators_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("params");
    QTest::addColumn<QString>("url");

    const QString b = QStringLiteral("http://cc.example/p");
    QTest::newRow("two lines, base without query")
        << b << "tel=%CallerID%\nname=%CallerName%" << b + "?tel=201&name=ABC";
    QTest::newRow("base with query continues with &") << b + "?a=1"
                                                      << "tel=%CallerID%" << b + "?a=1&tel=201";
    QTest::newRow("empty text still adds ?") << b << "" << b + "?";
    QTest::newRow("empty text after query adds &") << b + "?a=1"
                                                   << "" << b + "?a=1&";
    QTest::newRow("blank-only text is empty") << b << " \n\n \t" << b + "?";
    QTest::newRow("outer blank lines and spaces dropped") << b << "\n\n  tel=%CallerID%\nx=1  \n\n"
                                                          << b + "?tel=201&x=1";
    QTest::newRow("inner line end spaces kept") << b << "a=1  \nb=2" << b + "?a=1%20%20&b=2";
    QTest::newRow("inner empty line gives &&") << b << "a=1\n\nb=2" << b + "?a=1&&b=2";
    QTest::newRow("carriage return stays in value") << b << "a=1\r\nb=2" << b + "?a=1%0D&b=2";
    QTest::newRow("operator's own text kept")
        << b << "no-equals\n=v\nk==%CallerID%" << b + "?no-equals&=v&k==201";
}

void tst_OutlinkRequest::expansionLinesAndSeparators()
{
    QFETCH(QString, base);
    QFETCH(QString, params);
    QFETCH(QString, url);
    QCOMPARE(getUrl(base, params), url);
}

void tst_OutlinkRequest::methodSelection_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<bool>("post");

    QTest::newRow("post") << "post" << true;
    QTest::newRow("POST in capitals") << "POST" << false;
    QTest::newRow("Post") << "Post" << false;
    QTest::newRow("get") << "get" << false;
    QTest::newRow("absent") << "" << false;
    QTest::newRow("post with blank") << "post " << false;
}

void tst_OutlinkRequest::methodSelection()
{
    QFETCH(QString, method);
    QFETCH(bool, post);
    const Params outlink = { { "simpleUrl", "http://cc.example/p?x=1" },
        { "simpleParams", " tel=%CallerID%\nname=%CallerName%\n" }, { "simpleMethod", method } };
    const SimpleRequest r = simple_request(outlink, values());
    QCOMPARE(r.post, post);
    if (post) {
        QCOMPARE(r.url.toString(), QStringLiteral("http://cc.example/p?x=1"));
        QCOMPARE(r.body, QByteArray("tel=201&name=ABC"));
    } else {
        QCOMPARE(r.url.toString(), QStringLiteral("http://cc.example/p?x=1&tel=201&name=ABC"));
        QVERIFY(r.body.isEmpty());
    }
}

void tst_OutlinkRequest::detailLink_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("params");
    QTest::addColumn<QString>("expected");

    QTest::newRow("expanded and trimmed") << "http://cc.example/d"
                                          << "\n id=%CallerID%\nme=%MyId% \n"
                                          << "http://cc.example/d?id=201&me=1001";
    QTest::newRow("base with query") << "http://cc.example/d?v=2"
                                     << "id=%CallerID%"
                                     << "http://cc.example/d?v=2&id=201";
    QTest::newRow("whitespace-only text leaves the separator") << "http://cc.example/d"
                                                               << "  \n "
                                                               << "http://cc.example/d?";
    QTest::newRow("whitespace-only text after query") << "http://cc.example/d?v=2"
                                                      << " "
                                                      << "http://cc.example/d?v=2&";
    QTest::newRow("empty text: the base alone") << "http://cc.example/d"
                                                << ""
                                                << "http://cc.example/d";
    // A "%" that starts no %XX escape is the operator's own character; an escape stays as typed.
    QTest::newRow("stray percent in the base") << "http://cc.example/d?off=5%"
                                               << "id=%CallerID%"
                                               << "http://cc.example/d?off=5%25&id=201";
    QTest::newRow("misspelt placeholder") << "http://cc.example/d?q=%E5%B1%B1"
                                          << "x=%CallerId%\nid=%CallerID%"
                                          << "http://cc.example/d?q=%E5%B1%B1&x=%CallerId%25&id=201";
    QTest::newRow("percent at the end") << "http://cc.example/d"
                                        << "rate=10%"
                                        << "http://cc.example/d?rate=10%25";
    QTest::newRow("no detail URL keeps the previous link") << ""
                                                           << "id=%CallerID%"
                                                           << "previous";
}

void tst_OutlinkRequest::detailLink()
{
    QFETCH(QString, url);
    QFETCH(QString, params);
    QFETCH(QString, expected);
    QCOMPARE(detail_url(
                 QStringLiteral("previous"), { { "detailUrl", url }, { "detailParams", params } }, values()),
        expected);
}

void tst_OutlinkRequest::callerValuesAreEncodedAndNeverRescanned_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("callerName");
    QTest::addColumn<QString>("expanded");

    const QString form = QStringLiteral("tel=%CallerID%\nname=%CallerName%\nop=%OpeId%");
    QTest::newRow("field injection") << form << "x&role=admin"
                                     << "tel=201&name=x%26role%3Dadmin&op=op7";
    QTest::newRow("password placeholder in name") << form << "%OpePW%"
                                                  << "tel=201&name=%25OpePW%25&op=op7";
    QTest::newRow("later placeholder in name") << form << "%MyId%"
                                               << "tel=201&name=%25MyId%25&op=op7";
    QTest::newRow("earlier placeholder in name") << form << "%CallerID%"
                                                 << "tel=201&name=%25CallerID%25&op=op7";
    QTest::newRow("value completing a placeholder with the operator's text") << "a=%%CallerName%PW%"
                                                                             << "Ope"
                                                                             << "a=%OpePW%";
    QTest::newRow("line feed and hash in name") << form << "a\nb#c?d"
                                                << "tel=201&name=a%0Ab%23c%3Fd&op=op7";
    QTest::newRow("plus and blank") << form << "a+b c"
                                    << "tel=201&name=a%2Bb%20c&op=op7";
    QTest::newRow("Japanese as UTF-8") << "name=%CallerName%"
                                       << "山田 太郎"
                                       << "name=%E5%B1%B1%E7%94%B0%20%E5%A4%AA%E9%83%8E";
    QTest::newRow("unreserved left as is") << "name=%CallerName%"
                                           << "Az09-._~"
                                           << "name=Az09-._~";
    QTest::newRow("every occurrence") << "a=%CallerName%&b=%CallerName%"
                                      << "n"
                                      << "a=n&b=n";
    QTest::newRow("case-sensitive") << "a=%callername%&b=%CALLERID%"
                                    << "n"
                                    << "a=%callername%&b=%CALLERID%";
    // Where two placeholders share characters, the one earlier in the order wins, as if they
    // were replaced one after the other.
    QTest::newRow("overlap: own id before call id") << "x=%CallId%MyId%"
                                                    << "n"
                                                    << "x=%CallId1001";
    QTest::newRow("overlap: caller id before own id") << "x=%MyId%CallerID%"
                                                      << "n"
                                                      << "x=%MyId201";
}

void tst_OutlinkRequest::callerValuesAreEncodedAndNeverRescanned()
{
    QFETCH(QString, text);
    QFETCH(QString, callerName);
    QFETCH(QString, expanded);
    // The password never appears in clear or encoded form unless the operator asked for it.
    const QString result = expand(text, values(callerName));
    QCOMPARE(result, expanded);
    if (!text.contains(PH_OPE_PW))
        QVERIFY(!result.contains(QStringLiteral("secret")));
}

void tst_OutlinkRequest::formDecodingOfTheQueryGivesTheCallerBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("number");

    QTest::newRow("plain") << "Sato"
                           << "201";
    QTest::newRow("injection") << "x&role=admin"
                               << "0312345678";
    QTest::newRow("placeholder") << "%OpePW%"
                                 << "201";
    QTest::newRow("percent escapes") << "%41%2B%zz%"
                                     << "201";
    QTest::newRow("plus, blanks, reserved") << " a+b ;/?:@=&$,#[] "
                                            << "+81 3";
    QTest::newRow("Japanese") << "株式会社 テスト"
                              << "0120";
    QTest::newRow("control and emoji") << "a\tb\r\nc😀"
                                       << "1";
}

void tst_OutlinkRequest::formDecodingOfTheQueryGivesTheCallerBack()
{
    QFETCH(QString, name);
    QFETCH(QString, number);
    const Params outlink = { { "simpleUrl", "http://cc.example/p?fixed=1" },
        { "simpleParams", "tel=%CallerID%\nname=%CallerName%\nmy=%MyId%" } };
    const QList<QPair<QString, QString>> expected
        = { { "fixed", "1" }, { "tel", number }, { "name", name }, { "my", "1001" } };

    // GET: through the URL layer, as the request line carries it.
    const SimpleRequest get = simple_request(outlink, values(name, number));
    QCOMPARE(HttpTestServer::formFields(
                 get.url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemovePath).mid(1)),
        expected);

    // POST: the body itself.
    Params postOutlink = outlink;
    postOutlink.insert("simpleMethod", "post");
    const SimpleRequest post = simple_request(postOutlink, values(name, number));
    QCOMPARE(HttpTestServer::formFields(post.body), expected.mid(1));
}

void tst_OutlinkRequest::missingValuesReplaceByNothing()
{
    const Params vals = placeholder_values({}, {});
    QCOMPARE(
        expand(
            QStringLiteral("a=%CallerName%\nb=%CallerID%\nc=%MyId%\nd=%CallId%\ne=%OpeId%\nf=%OpePW%"), vals),
        QStringLiteral("a=&b=&c=&d=&e=&f="));
}

QTEST_APPLESS_MAIN(tst_OutlinkRequest)
#include "tst_outlinkrequest.moc"
