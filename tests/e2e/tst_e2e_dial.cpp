// Click to dial as operators use it: links from the browser's CRM reach the running bar through
// a second start of the program (as the desktop's URL handler starts it, without a display),
// a link in the caller's page is dialled without leaving the popup, and a first start with a link
// dials once registered. What counts is the INVITE at the registrar, the REFER at a transferred
// caller, the log and the exit status of the second start.
#include "tests/e2e/desktop.h"
#include "tests/e2e/e2esupport.h"
#include "tests/e2e/screenpoints.h"
#include "tests/e2e/tarselapp.h"

#include "app/constants.h"
#include "app/dialrequest.h"
#include "store/settingskeys.h"
#include "store/veldata.h"
#include "tests/support/http/httptestserver.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace E2e;

namespace {
const QString CALLER = QStringLiteral("0451113333");
const QString TRANSFER_TARGET = QStringLiteral("2002");
const QString PAGE_NUMBER = QStringLiteral("0398765432");
const QString POPUP_TITLE = QStringLiteral("Form");
// The caller's page is one big tel: link; the web view sits at (30,100) of the popup, 381 x 181.
const QPoint PAGE_LINK(30 + 190, 100 + 90);
const QByteArray LINK_PAGE = "<!DOCTYPE html><html><body style=\"margin:0\">"
                             "<a href=\"tel:03-9876-5432\" style=\"display:block;height:181px;"
                             "font-size:40px;background:#dde8f0\">03-9876-5432</a></body></html>";
// The number display of the bar: phoneNumberLabel (344,3,200,44) in mainFrame (3,3).
const QRect NUMBER_DISPLAY(3 + 344, 3 + 3, 200, 44);

// A registrar that turns every call down as busy: each INVITE is on the wire, and the bar is
// idle again right after.
QString busyRegistrar()
{
    return SippScenario::registrar(SippScenario::respond(486, QStringLiteral("Busy Here"), true)
        + QStringLiteral("<recv request=\"ACK\"/>\n"));
}

int invites(const SippPeer &registrar)
{
    return registrar.received(QStringLiteral("INVITE")).size();
}

QString lastInvite(const SippPeer &registrar)
{
    const QVector<SipMessage> all = registrar.received(QStringLiteral("INVITE"));
    return all.isEmpty() ? QString() : all.last().startLine();
}
} // namespace

class tst_E2eDial : public QObject
{
    Q_OBJECT

private slots:
    void linksHandedToTheRunningBar();
    void firstStartDialsOnceRegistered();
};

void tst_E2eDial::linksHandedToTheRunningBar()
{
    E2eDesktop desktop;
    QVERIFY2(desktop.start(), qPrintable(desktop.error()));
    HttpTestServer web;
    QVERIFY2(web.start(), qPrintable(web.errorString()));
    HttpReply page;
    page.body = LINK_PAGE;
    web.setReply("/caller", page);
    // Whatever the program hands to the desktop lands here instead of in a real browser.
    QTemporaryDir stand;
    QVERIFY(stand.isValid());
    const QString opened = stand.filePath(QStringLiteral("opened"));
    QFile opener(stand.filePath(QStringLiteral("xdg-open")));
    QVERIFY(opener.open(QIODevice::WriteOnly));
    opener.write(QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1'\n").arg(opened).toUtf8());
    opener.close();
    opener.setPermissions(opener.permissions() | QFileDevice::ExeOwner);

    SippPeer registrar(busyRegistrar(), 180);
    registrar.setCalls(4);
    TarselApp app(desktop);
    app.setEnvironment(
        QStringLiteral("PATH"), stand.path() + QLatin1Char(':') + QString::fromLocal8Bit(qgetenv("PATH")));
    QString why;
    const qulonglong bar = startRegistered(desktop, app, registrar,
        { { CATEGORY_OUTLINK,
              { { KEY_SIMPLE_URL, web.url(QStringLiteral("/caller")).toString() },
                  { QStringLiteral("simpleMethod"), QStringLiteral("get") },
                  { KEY_SIMPLE_PARAMS, QStringLiteral("tel=%CallerID%") } } },
            { CATEGORY_GENERAL, { { KEY_HIDE_DELAY, QStringLiteral("120") } } } },
        QStringLiteral("dial-0-registered"), &why);
    QVERIFY2(bar, qPrintable(why));
    const QPoint barAt = desktop.geometry(bar).topLeft();

    // 1. Idle: a link handed over by a start without a display is dialled, separators gone.
    QCOMPARE(app.startAgain(20000, { QStringLiteral("tel:03-1234-5678") }, false), 0);
    QVERIFY2(waitUntil(10000, [&] { return invites(registrar) == 1; }),
        qPrintable(registrar.report() + app.log() + app.output()));
    QVERIFY2(lastInvite(registrar).startsWith(QStringLiteral("INVITE sip:0312345678@")),
        qPrintable(lastInvite(registrar)));
    QVERIFY(waitUntil(10000, [&] { return app.history().size() == 1; }));

    // 2. A global number keeps its "+"; the phone-context is dropped and logged.
    const QString global = QStringLiteral("tel:+81-3-1234-5678;phone-context=example.com");
    QCOMPARE(app.startAgain(20000, { global }, false), 0);
    QVERIFY2(waitUntil(10000, [&] { return invites(registrar) == 2; }), qPrintable(registrar.report()));
    QVERIFY2(lastInvite(registrar).startsWith(QStringLiteral("INVITE sip:+81312345678@")),
        qPrintable(lastInvite(registrar)));
    QVERIFY(app.log().contains(QStringLiteral(";phone-context=example.com left out of ")));
    QVERIFY(waitUntil(10000, [&] { return app.history().size() == 2; }));

    // 3. Refused: nothing dialled, a log line each, and the second start still ends with 0.
    const QStringList refused = { QStringLiteral("tel:"), QStringLiteral("tel:abc"),
        QStringLiteral("tel:") + QString(200, QLatin1Char('7')), QStringLiteral("javascript:alert(1)"),
        QStringLiteral("tel:0312\n345678"), QStringLiteral("sip:alice@example.com") };
    for (const QString &link : refused) {
        QCOMPARE(app.startAgain(20000, { link }, false), 0);
        const QString line
            = QStringLiteral("click to dial: refused ") + DialRequest::for_log(link) + QLatin1Char(':');
        QVERIFY2(waitUntil(10000, [&] { return app.log().contains(line); }), qPrintable(line));
    }
    // A message the channel cannot carry: longer than any message the bar reads.
    const QString oversized = QStringLiteral("tel:1;") + QString(5000, QLatin1Char('x'));
    QCOMPARE(app.startAgain(20000, { oversized }, false), 0);
    QVERIFY(
        waitUntil(10000, [&] { return app.log().contains(QStringLiteral("activation message dropped")); }));
    QTest::qWait(1000);
    QCOMPARE(invites(registrar), 2);
    QVERIFY(app.isRunning());
    desktop.screenshot(QStringLiteral("dial-1-after-refused-links"));

    // 4. During a call the link only fills the display; 転送 then holds the caller and
    // transfers to that number.
    SippPeer caller(transferredCaller(), 90);
    aimCaller(caller, phonePort(registrar), CALLER);
    QVERIFY(caller.start());
    const qulonglong popup = desktop.waitForWindow(exactTitle(POPUP_TITLE), 15000, CallerPage::SIZE);
    QVERIFY2(popup, qPrintable(caller.report()));
    QVERIFY2(answerFromBar(desktop, bar, caller), qPrintable(caller.report()));
    QTest::qWait(1000);
    const QImage before
        = desktop.screenshot(QStringLiteral("dial-2-in-call")).copy(NUMBER_DISPLAY.translated(barAt));
    QCOMPARE(app.startAgain(20000, { QStringLiteral("tel:") + TRANSFER_TARGET }, false), 0);
    QVERIFY(waitUntil(10000,
        [&] { return app.log().contains(TRANSFER_TARGET + QStringLiteral(" shown for a transfer")); }));
    QTest::qWait(500);
    const QImage after = desktop.screenshot(QStringLiteral("dial-3-number-for-transfer"))
                             .copy(NUMBER_DISPLAY.translated(barAt));
    QVERIFY2(before != after, "the display did not change");
    QCOMPARE(invites(registrar), 2);
    QVERIFY(caller.received(QStringLiteral("INVITE")).isEmpty());
    desktop.click(barAt + Bar::TRANSFER);
    QVERIFY2(caller.waitForFinished(20000), qPrintable(caller.report()));
    QVERIFY(caller.received(QStringLiteral("INVITE")).first().body().contains(QStringLiteral("a=sendonly")));
    const QString referTo
        = caller.received(QStringLiteral("REFER")).first().header(QStringLiteral("Refer-To"));
    QVERIFY2(
        referTo.contains(QStringLiteral("sip:") + TRANSFER_TARGET + QLatin1Char('@')), qPrintable(referTo));
    QCOMPARE(invites(registrar), 2);
    QVERIFY(waitUntil(10000, [&] { return app.history().size() == 3; }));

    // 5. The caller's page stays after the call; its tel: link is dialled by the bar itself, and
    // nothing is handed to another program.
    QVERIFY(desktop.findWindows(exactTitle(POPUP_TITLE)).contains(popup));
    desktop.screenshot(QStringLiteral("dial-4-caller-page-with-link"));
    desktop.click(desktop.geometry(popup).topLeft() + PAGE_LINK);
    QVERIFY2(waitUntil(10000, [&] { return invites(registrar) == 3; }), qPrintable(registrar.report()));
    QVERIFY2(lastInvite(registrar).startsWith(QStringLiteral("INVITE sip:") + PAGE_NUMBER + QLatin1Char('@')),
        qPrintable(lastInvite(registrar)));
    QTest::qWait(1000);
    QVERIFY2(!QFile::exists(opened), "a link was handed to the desktop");
    desktop.screenshot(QStringLiteral("dial-5-page-link-dialled"));
}

void tst_E2eDial::firstStartDialsOnceRegistered()
{
    E2eDesktop desktop;
    QVERIFY2(desktop.start(), qPrintable(desktop.error()));
    {
        SippPeer registrar(busyRegistrar(), 120);
        registrar.setCalls(2);
        registrar.set(QStringLiteral("PASSWORD"), PASSWORD);
        QVERIFY(registrar.start());
        TarselApp app(desktop);
        QVERIFY(app.prepareSettings({ { CATEGORY_ACCOUNT, account(registrar.port()) } }));
        // The host of a sip: link is not where the call goes: the operator's own server is.
        QVERIFY(app.start({ QStringLiteral("sip:0312345678@pbx.example.com") }));
        QVERIFY2(waitUntil(30000, [&] { return invites(registrar) == 1; }), qPrintable(registrar.report()));
        QVERIFY2(lastInvite(registrar).startsWith(QStringLiteral("INVITE sip:0312345678@127.0.0.1")),
            qPrintable(lastInvite(registrar)));
        // Dialled only after the registration was accepted.
        bool registered = false;
        for (const SipMessage &message : registrar.messages()) {
            if (!message.received && message.isResponse(200)
                && message.header(QStringLiteral("CSeq")).contains(QStringLiteral("REGISTER")))
                registered = true;
            if (message.received && message.isRequest(QStringLiteral("INVITE")))
                break;
        }
        QVERIFY2(registered, qPrintable(registrar.report()));
    }

    // Without a registration the number is given up after 30 s, with a log line.
    const int silentPort = find_free_udp_port();
    TarselApp app(desktop);
    QVERIFY(app.prepareSettings({ { CATEGORY_ACCOUNT, account(silentPort) } }));
    QVERIFY(app.start({ QStringLiteral("--dial"), QStringLiteral("110") }));
    QVERIFY(waitUntil(
        15000, [&] { return app.log().contains(QStringLiteral("110 waits for the registration")); }));
    QVERIFY2(waitUntil(40000,
                 [&] {
                     return app.log().contains(QStringLiteral("not registered within 30 s, 110 not dialled"));
                 }),
        qPrintable(app.log()));
    QVERIFY(app.isRunning());
}

QTEST_GUILESS_MAIN(tst_E2eDial)
#include "tst_e2e_dial.moc"
