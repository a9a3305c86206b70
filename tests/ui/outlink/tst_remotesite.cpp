#include "tests/ui/outlink/outlinkfixture.h"
#include "tests/ui/outlink/outlinktestmain.h"

#include "app/constants.h"
#include "tests/support/http/httptestserver.h"
#include "ui/outlink/remotesite.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>

#include <unistd.h>

using Params = QMap<QString, QString>;

namespace {
constexpr int LOAD_TIMEOUT = 30000;

// Child processes of this test whose command name starts with the web engine's helper name.
int webEngineProcesses()
{
    int count = 0;
    const QString self = QString::number(::getpid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromLatin1(stat.readAll());
        // "pid (comm) state ppid ..."; comm may hold blanks, so split after the last ')'.
        const int close = text.lastIndexOf(QLatin1Char(')'));
        const QStringList rest = text.mid(close + 2).split(QLatin1Char(' '));
        const QString comm
            = text.mid(text.indexOf(QLatin1Char('(')) + 1, close - text.indexOf(QLatin1Char('(')) - 1);
        if (rest.value(1) == self && comm.startsWith(QStringLiteral("QtWebEngine")))
            ++count;
    }
    return count;
}

int closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return port;
}

Params incomingCall(const QString &name, const QString &number)
{
    return { { "callerName", name }, { "callerId", number }, { "callId", "a84b4c76e66710@127.0.0.1" } };
}
} // namespace

// The remote site window against a real web engine and a local web server: the request as the
// server receives it (GET and POST, content type, Japanese name, injected names), the loading
// state for pages that load, fail or never answer, a self-signed HTTPS server, a second call,
// the detail link and the buttons.
class tst_RemoteSite : public QObject
{
    Q_OBJECT

private:
    OutlinkStore *m_env = nullptr;
    VelData *store() const { return m_env->store(); }

    void configure(const QString &simpleUrl, const QString &method, const QString &params,
        const QString &detailUrl = QString(), const QString &detailParams = QString())
    {
        QVERIFY(store()->save_account_settings(
            { { "userId", "1001" }, { "operatorId", "op7" }, { "operatorPW", "pw-secret" } }));
        QVERIFY(store()->save_outlink_settings({ { "simpleUrl", simpleUrl }, { "simpleMethod", method },
            { "simpleParams", params }, { "detailUrl", detailUrl }, { "detailParams", detailParams } }));
    }

    static QProgressBar *progress(RemoteSite &w) { return w.findChild<QProgressBar *>("progressBar"); }
    static QWebEngineView *view(RemoteSite &w) { return w.findChild<QWebEngineView *>("webView"); }
    static QPushButton *button(RemoteSite &w, const char *name) { return w.findChild<QPushButton *>(name); }
    static bool loading(RemoteSite &w) { return progress(w)->isVisible() && !view(w)->isVisible(); }
    static bool showingPage(RemoteSite &w) { return !progress(w)->isVisible() && view(w)->isVisible(); }

private slots:
    void init() { m_env = new OutlinkStore; }
    void cleanup()
    {
        delete m_env;
        m_env = nullptr;
    }

    void webEngineStartsWithTheFirstPopupOnly();
    void getRequestAsTheServerReceivesIt();
    void postRequestCarriesFormBodyAndContentType();
    void callerCannotInjectFieldsOrReachThePassword_data();
    void callerCannotInjectFieldsOrReachThePassword();
    void strayPercentOfTheOperatorLeavesValuesEncodedOnce_data();
    void strayPercentOfTheOperatorLeavesValuesEncodedOnce();
    void everyPageOutcomeEndsTheLoadingState_data();
    void everyPageOutcomeEndsTheLoadingState();
    void selfSignedHttpsPageLoads();
    void secondCallReloadsAndClearsHistory();
    void detailButtonAndLink();
    void buttonsAndWindowSetup();
};

void tst_RemoteSite::webEngineStartsWithTheFirstPopupOnly()
{
    // Runs first: nothing before it has built a web view in this process.
    HttpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    configure(server.url("/page").toString(), "get", "tel=%CallerID%");
    QCOMPARE(webEngineProcesses(), 0);

    RemoteSite site(nullptr, nullptr, store());
    site.set_webview_params(incomingCall("A", "201"));
    QTRY_VERIFY_WITH_TIMEOUT(!server.requests("/page").isEmpty(), LOAD_TIMEOUT);
    QVERIFY(webEngineProcesses() > 0);
}

void tst_RemoteSite::getRequestAsTheServerReceivesIt()
{
    HttpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    configure(server.url("/crm/popup?site=3").toString(), "get",
        "\n tel=%CallerID%\nname=%CallerName%\nme=%MyId%\ncall=%CallId%\nop=%OpeId%\n\n");

    RemoteSite site(nullptr, nullptr, store());
    site.show();
    site.set_webview_params(incomingCall("山田 太郎", "0312345678"));
    QVERIFY(loading(site));

    QTRY_COMPARE_WITH_TIMEOUT(server.requests("/crm/popup").size(), 1, LOAD_TIMEOUT);
    const HttpRequest r = server.requests("/crm/popup").first();
    QCOMPARE(r.method, QByteArray("GET"));
    QVERIFY(r.body.isEmpty());
    const QList<QPair<QString, QString>> expected = { { "site", "3" }, { "tel", "0312345678" },
        { "name", "山田 太郎" }, { "me", "1001" }, { "call", "a84b4c76e66710@127.0.0.1" }, { "op", "op7" } };
    QCOMPARE(HttpTestServer::formFields(r.query), expected);
    QTRY_VERIFY_WITH_TIMEOUT(showingPage(site), LOAD_TIMEOUT);
}

void tst_RemoteSite::postRequestCarriesFormBodyAndContentType()
{
    HttpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    configure(server.url("/crm/popup").toString(), "post", "tel=%CallerID%\nname=%CallerName%\npw=%OpePW%");

    RemoteSite site(nullptr, nullptr, store());
    site.show();
    site.set_webview_params(incomingCall("株式会社テスト", "201"));
    QVERIFY(loading(site));

    QTRY_COMPARE_WITH_TIMEOUT(server.requests("/crm/popup").size(), 1, LOAD_TIMEOUT);
    const HttpRequest r = server.requests("/crm/popup").first();
    QCOMPARE(r.method, QByteArray("POST"));
    QCOMPARE(r.target, QByteArray("/crm/popup"));
    QCOMPARE(r.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(r.body,
        QByteArray("tel=201&name=%E6%A0%AA%E5%BC%8F%E4%BC%9A%E7%A4%BE%E3%83%86%E3%82%B9%E3%83%88"
                   "&pw=pw-secret"));
    QTRY_VERIFY_WITH_TIMEOUT(showingPage(site), LOAD_TIMEOUT);
}

void tst_RemoteSite::callerCannotInjectFieldsOrReachThePassword_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("callerName");

    for (const QString method : { "get", "post" }) {
        QTest::addRow("%s: extra field", qPrintable(method)) << method << "x&role=admin";
        QTest::addRow("%s: password placeholder", qPrintable(method)) << method << "%OpePW%";
        QTest::addRow("%s: own id placeholder", qPrintable(method)) << method << "%MyId%";
        QTest::addRow("%s: plus, hash, line feed", qPrintable(method)) << method << "a+b #c\nd=e";
    }
}

void tst_RemoteSite::callerCannotInjectFieldsOrReachThePassword()
{
    QFETCH(QString, method);
    QFETCH(QString, callerName);
    HttpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    configure(server.url("/p").toString(), method, "tel=%CallerID%\nname=%CallerName%");

    RemoteSite site(nullptr, nullptr, store());
    site.set_webview_params(incomingCall(callerName, "201"));
    QTRY_COMPARE_WITH_TIMEOUT(server.requests("/p").size(), 1, LOAD_TIMEOUT);
    const HttpRequest r = server.requests("/p").first();
    const QByteArray form = method == "post" ? r.body : r.query;
    const QList<QPair<QString, QString>> expected = { { "tel", "201" }, { "name", callerName } };
    QCOMPARE(HttpTestServer::formFields(form), expected);
    QVERIFY(!r.target.contains("secret") && !r.body.contains("secret"));
    QVERIFY(!r.target.contains("1001") && !r.body.contains("1001"));
}

void tst_RemoteSite::strayPercentOfTheOperatorLeavesValuesEncodedOnce_data()
{
    // A "%" of the operator's own (a rate, a misspelt placeholder, a stray one in the base URL)
    // must not make the caller's values arrive encoded twice.
    QTest::addColumn<QString>("request"); // get, post or detail (the link, fetched)
    QTest::addColumn<QString>("query"); // appended to the base URL
    QTest::addColumn<QString>("params");
    QTest::addColumn<QString>("first"); // the operator's first field as the server decodes it
    for (const QString request : { "get", "post", "detail" }) {
        QTest::addRow("%s: rate=10%%", qPrintable(request)) << request << ""
                                                            << "rate=10%\nname=%CallerName%\ntel=%CallerID%"
                                                            << "10%";
        QTest::addRow("%s: misspelt placeholder", qPrintable(request))
            << request << ""
            << "x=%OpeID%\nname=%CallerName%\ntel=%CallerID%"
            << "%OpeID%";
        QTest::addRow("%s: stray %% in the base URL", qPrintable(request))
            << request << "?off=5%"
            << "name=%CallerName%\ntel=%CallerID%"
            << "5%";
    }
}

void tst_RemoteSite::strayPercentOfTheOperatorLeavesValuesEncodedOnce()
{
    QFETCH(QString, request);
    QFETCH(QString, query);
    QFETCH(QString, params);
    QFETCH(QString, first);
    const QString name = QStringLiteral("山田 太郎&x=1+2");
    HttpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const QString base = server.url("/p").toString() + query;
    BrowserCatcher browser;
    if (request == "detail")
        configure(server.url("/page").toString(), "get", "", base, params);
    else
        configure(base, request, params);

    RemoteSite site(nullptr, nullptr, store());
    site.show();
    site.set_webview_params(incomingCall(name, "0312345678"));
    if (request == "detail") {
        QTest::mouseClick(button(site, "siteDetailButton"), Qt::LeftButton);
        QCOMPARE(browser.opened.size(), 1);
        QNetworkAccessManager fetcher;
        std::unique_ptr<QNetworkReply> reply(fetcher.get(QNetworkRequest(browser.opened.first())));
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), LOAD_TIMEOUT);
    }
    QTRY_COMPARE_WITH_TIMEOUT(server.requests("/p").size(), 1, LOAD_TIMEOUT);
    const HttpRequest r = server.requests("/p").first();
    const QList<QPair<QString, QString>> fields
        = HttpTestServer::formFields(request == "post" ? r.body : r.query);
    const QList<QPair<QString, QString>> values = { { "name", name }, { "tel", "0312345678" } };
    QCOMPARE(fields.mid(fields.size() - 2), values);
    // The operator's own text arrives as typed; a POST body carries it unchanged, so only the
    // base URL's query is the URL's.
    if (request != "post")
        QCOMPARE(fields.first().second, first);
    else if (!query.isEmpty())
        QCOMPARE(HttpTestServer::formFields(r.query).first().second, first);
}

void tst_RemoteSite::everyPageOutcomeEndsTheLoadingState_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("closed port") << 0;
    QTest::newRow("server error 500") << 1;
    QTest::newRow("no body (204)") << 2;
    QTest::newRow("connection dropped") << 3;
    QTest::newRow("slow reply") << 4;
}

void tst_RemoteSite::everyPageOutcomeEndsTheLoadingState()
{
    QFETCH(int, kind);
    HttpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QString url = server.url("/p").toString();
    switch (kind) {
    case 0:
        url = QStringLiteral("http://127.0.0.1:%1/p").arg(closedPort());
        break;
    case 1:
        server.setReply("/p", HttpReply::error(500));
        break;
    case 2:
        server.setReply("/p", HttpReply::noBody(204));
        break;
    case 3: {
        HttpReply drop;
        drop.dropConnection = true;
        server.setReply("/p", drop);
        break;
    }
    case 4:
        server.setReply("/p", HttpReply::slow(1500));
        break;
    }
    configure(url, "get", "tel=%CallerID%");

    RemoteSite site(nullptr, nullptr, store());
    site.show();
    QSignalSpy finished(view(site), &QWebEngineView::loadFinished);
    site.set_webview_params(incomingCall("A", "201"));
    QVERIFY(loading(site));
    if (kind == 4) {
        // Still loading while the server holds its answer back.
        QTRY_COMPARE_WITH_TIMEOUT(server.requests("/p").size(), 1, LOAD_TIMEOUT);
        QTest::qWait(500);
        QVERIFY(loading(site));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), LOAD_TIMEOUT);
    QTRY_VERIFY(showingPage(site));
}

void tst_RemoteSite::selfSignedHttpsPageLoads()
{
    HttpTestServer server(HttpTestServer::Https);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    HttpReply page;
    page.body = QByteArrayLiteral("<html><head><title>caller page</title></head><body>201</body></html>");
    server.setReply("/secure", page);
    configure(server.url("/secure").toString(), "post", "tel=%CallerID%");

    RemoteSite site(nullptr, nullptr, store());
    site.show();
    QSignalSpy finished(view(site), &QWebEngineView::loadFinished);
    site.set_webview_params(incomingCall("A", "201"));
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), LOAD_TIMEOUT);
    QCOMPARE(finished.first().first().toBool(), true);
    QCOMPARE(view(site)->title(), QStringLiteral("caller page"));
    const QList<HttpRequest> requests = server.requests("/secure");
    QCOMPARE(requests.size(), 1);
    QVERIFY(requests.first().tls);
    QCOMPARE(requests.first().body, QByteArray("tel=201"));
}

void tst_RemoteSite::secondCallReloadsAndClearsHistory()
{
    HttpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    server.setReply("/p", HttpReply::slow(300));
    configure(server.url("/p").toString(), "get", "tel=%CallerID%");

    RemoteSite site(nullptr, nullptr, store());
    site.show();
    QSignalSpy finished(view(site), &QWebEngineView::loadFinished);
    int calls = 0;
    for (const QString number : { "201", "202", "203" }) {
        // Each call while the previous page is still shown: loading again, then the new
        // caller's page.
        site.set_webview_params(incomingCall("caller", number));
        ++calls;
        QVERIFY(loading(site));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), calls, LOAD_TIMEOUT);
        QVERIFY(showingPage(site));
        QCOMPARE(server.requests("/p").size(), calls);
        QCOMPARE(server.requests("/p").last().query, "tel=" + number.toLatin1());
        QCOMPARE(view(site)->url(), server.url("/p?tel=" + number));
    }
    // Nothing leads back to the previous caller's page: not the history, not the Back action
    // of the context menu, not Alt+Left, not the page's own script.
    QCOMPARE(view(site)->history()->count(), 1);
    QVERIFY(!view(site)->history()->canGoBack());
    QWebEnginePage *page = view(site)->page();
    page->triggerAction(QWebEnginePage::Back);
    QTest::keyClick(
        view(site)->focusProxy() ? view(site)->focusProxy() : view(site), Qt::Key_Left, Qt::AltModifier);
    page->runJavaScript(QStringLiteral("history.back()"));
    QTest::qWait(1000);
    QCOMPARE(server.requests("/p").size(), calls);
    QCOMPARE(view(site)->url(), server.url("/p?tel=203"));
    QCOMPARE(finished.size(), calls);
}

void tst_RemoteSite::detailButtonAndLink()
{
    BrowserCatcher browser;
    HttpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    configure(server.url("/p").toString(), "get", "", "http://crm.example/detail?v=1",
        "id=%CallerID%\nname=%CallerName%\n");

    RemoteSite site(nullptr, nullptr, store());
    QPushButton *detail = button(site, "siteDetailButton");
    site.set_webview_params(incomingCall("x&y", "201"));
    site.show();
    QVERIFY(detail->isVisible());
    QTest::mouseClick(detail, Qt::LeftButton);
    QCOMPARE(browser.opened.size(), 1);
    QCOMPARE(
        browser.opened.first().toEncoded(), QByteArray("http://crm.example/detail?v=1&id=201&name=x%26y"));
    QCOMPARE(HttpTestServer::formFields(browser.opened.first().query(QUrl::FullyEncoded).toLatin1())
                 .value(2)
                 .second,
        QStringLiteral("x&y"));

    // The detail URL is removed: the old link stays composed but the button is gone at the
    // next show, so it cannot be opened any more.
    site.hide();
    QVERIFY(store()->save_outlink_settings({ { "detailUrl", "" } }));
    site.set_webview_params(incomingCall("B", "202"));
    QCOMPARE(site.get_detail_url(), QStringLiteral("http://crm.example/detail?v=1&id=201&name=x%26y"));
    site.show();
    QVERIFY(!detail->isVisible());
    QCOMPARE(browser.opened.size(), 1);
}

void tst_RemoteSite::buttonsAndWindowSetup()
{
    BrowserCatcher browser;
    configure("http://127.0.0.1:1/p", "get", "");
    RemoteSite site(nullptr, nullptr, store());
    QSignalSpy showMain(&site, &RemoteSite::signal_show_main_window);
    QSignalSpy noDelay(&site, &RemoteSite::signal_set_not_delay_hidden_reomote_window);

    QCOMPARE(site.size(), QSize(440, 370));
    QVERIFY(site.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(site.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(site.windowType(), Qt::Window);
    QVERIFY(site.testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(button(site, "siteDialogButton")->styleSheet(), STYLE_SITE_DIAL_BUTTON);
    QCOMPARE(button(site, "siteTerminateButton")->styleSheet(), STYLE_SITE_TERMINATE_BUTTON);

    site.show();
    QTest::mouseClick(button(site, "siteDialogButton"), Qt::LeftButton);
    QCOMPARE(showMain.size(), 1);
    QCOMPARE(noDelay.size(), 0);
    QTest::mouseClick(button(site, "siteTerminateButton"), Qt::LeftButton);
    QCOMPARE(noDelay.size(), 1);
    QVERIFY(site.isVisible());

    QTest::mouseClick(button(site, "logoButton"), Qt::LeftButton);
    QCOMPARE(browser.opened, QList<QUrl>({ PRODUCT_URL }));

    QTest::mouseClick(button(site, "siteCloseButton"), Qt::LeftButton);
    QVERIFY(!site.isVisible());
    QCOMPARE(showMain.size(), 1);
    QCOMPARE(noDelay.size(), 1);
}

OUTLINK_TEST_MAIN(tst_RemoteSite)
#include "tst_remotesite.moc"
