// Transfers as the operator makes them from the bar, without a caller's page (the plain
// incoming popup): a blind transfer (hold, type the target, transfer) and an attended one (hold,
// call the target, talk, transfer). What counts is what the callers' side receives: the hold,
// the REFER with the right target, and the end of the operator's part of the call.
#include "tests/e2e/desktop.h"
#include "tests/e2e/e2esupport.h"
#include "tests/e2e/screenpoints.h"
#include "tests/e2e/tarselapp.h"

#include "app/constants.h"
#include "store/veldata.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"

#include <QUrl>
#include <QtTest>

using namespace E2e;

namespace {
const QString BLIND_CALLER = QStringLiteral("0451110001");
const QString ATTENDED_CALLER = QStringLiteral("0451110002");
const QString BLIND_TARGET = QStringLiteral("2002");
const QString CONSULTED = QStringLiteral("2003");
// How long the consulted party stays after answering before it hangs up itself (after the
// transfer it would be the transferred caller's partner; the phone leaves that call to it).
const int CONSULTED_STAYS_MS = 6000;

// Answers the ringing caller from the bar and clicks 転送: the caller is held (a=sendonly).
void answerAndStartTransfer(const E2eDesktop &desktop, qulonglong bar, const SippPeer &caller)
{
    QVERIFY2(answerFromBar(desktop, bar, caller), qPrintable(caller.report()));
    QTest::qWait(500);
    desktop.click(desktop.geometry(bar).topLeft() + Bar::TRANSFER);
    QVERIFY2(waitUntil(10000, [&] { return !caller.received(QStringLiteral("INVITE")).isEmpty(); }),
        qPrintable(caller.report()));
    QVERIFY(caller.received(QStringLiteral("INVITE")).first().body().contains(QStringLiteral("a=sendonly")));
}
} // namespace

class tst_E2eTransfer : public QObject
{
    Q_OBJECT

private slots:
    void blindAndAttended();
};

void tst_E2eTransfer::blindAndAttended()
{
    E2eDesktop desktop;
    QVERIFY2(desktop.start(), qPrintable(desktop.error()));
    // The registrar is also the consulted party of the attended transfer.
    SippPeer registrar(
        SippScenario::registrar(SippScenario::answer(200, QStringLiteral("OK"))
            + SippScenario::pause(CONSULTED_STAYS_MS) + SippScenario::calleeRequest(QStringLiteral("BYE"), 1)
            + QStringLiteral("<recv response=\"200\"/>\n")),
        120);
    registrar.setCalls(2);
    TarselApp app(desktop);
    QString why;
    const qulonglong bar
        = startRegistered(desktop, app, registrar, {}, QStringLiteral("transfer-0-registered"), &why);
    QVERIFY2(bar, qPrintable(why));
    const QPoint barAt = desktop.geometry(bar).topLeft();
    const int port = phonePort(registrar);

    // Blind: answer, transfer (holds the caller), type the target, transfer again.
    {
        SippPeer caller(transferredCaller(), 60);
        aimCaller(caller, port, BLIND_CALLER);
        QVERIFY(caller.start());
        answerAndStartTransfer(desktop, bar, caller);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(
            caller.received(QStringLiteral("INVITE")).first().body().contains(QStringLiteral("a=sendonly")));
        QTest::qWait(500);
        desktop.screenshot(QStringLiteral("transfer-1-blind-enter-number"));
        typeOnBar(desktop, bar, BLIND_TARGET);
        desktop.click(barAt + Bar::TRANSFER);
        QVERIFY2(caller.waitForFinished(15000), qPrintable(caller.report()));
        const QVector<SipMessage> refers = caller.received(QStringLiteral("REFER"));
        QCOMPARE(refers.size(), 1);
        const QString referTo = refers.first().header(QStringLiteral("Refer-To"));
        QVERIFY2(
            referTo.contains(QStringLiteral("sip:") + BLIND_TARGET + QLatin1Char('@')), qPrintable(referTo));
        QVERIFY2(!referTo.contains(QStringLiteral("Replaces")), qPrintable(referTo));
        QCOMPARE(caller.received(QStringLiteral("BYE")).size(), 1);
        QVERIFY(waitUntil(5000, [&] { return app.history().size() == 1; }));
        QTest::qWait(500);
        desktop.screenshot(QStringLiteral("transfer-2-blind-done"));
    }

    // Attended: answer, transfer (hold), call the target with Enter, talk, transfer.
    {
        SippPeer caller(transferredCaller(), 60);
        aimCaller(caller, port, ATTENDED_CALLER);
        QVERIFY(caller.start());
        answerAndStartTransfer(desktop, bar, caller);
        if (QTest::currentTestFailed())
            return;
        QTest::qWait(500);
        typeOnBar(desktop, bar, CONSULTED);
        desktop.screenshot(QStringLiteral("transfer-3-attended-number-typed"));
        desktop.key({ QStringLiteral("Return") });
        QVERIFY2(waitUntil(10000, [&] { return !registrar.received(QStringLiteral("ACK")).isEmpty(); }),
            qPrintable(registrar.report()));
        const SipMessage consultation = registrar.received(QStringLiteral("INVITE")).first();
        QVERIFY2(
            consultation.startLine().startsWith(QStringLiteral("INVITE sip:") + CONSULTED + QLatin1Char('@')),
            qPrintable(consultation.startLine()));
        // The held caller hears nothing of it: no new request while the operator consults.
        QCOMPARE(caller.received(QStringLiteral("INVITE")).size(), 1);
        desktop.screenshot(QStringLiteral("transfer-4-attended-consulting"));
        desktop.click(barAt + Bar::TRANSFER);
        QVERIFY2(caller.waitForFinished(15000), qPrintable(caller.report()));
        const QString referTo
            = caller.received(QStringLiteral("REFER")).first().header(QStringLiteral("Refer-To"));
        const QString decoded = QUrl::fromPercentEncoding(referTo.toUtf8());
        QVERIFY2(
            decoded.contains(QStringLiteral("sip:") + CONSULTED + QLatin1Char('@')), qPrintable(referTo));
        QVERIFY2(
            decoded.contains(QStringLiteral("Replaces=") + consultation.header(QStringLiteral("Call-ID"))),
            qPrintable(decoded));
        QCOMPARE(caller.received(QStringLiteral("BYE")).size(), 1);
        // The consulted party, now the caller's partner, ends its leg; the phone answers it.
        QVERIFY2(waitUntil(CONSULTED_STAYS_MS + 5000,
                     [&] { return hasMessage(registrar, true, QStringLiteral("SIP/2.0 200")); }),
            qPrintable(registrar.report()));
        desktop.screenshot(QStringLiteral("transfer-5-attended-done"));
    }

    // Both transferred callers are in the history as answered incoming calls.
    QVERIFY(waitUntil(5000, [&] {
        int answered = 0;
        for (const HistoryRecord &row : app.history()) {
            if (row.status == QString::number(HISTORY_INCOMING_ANSWERED)
                && (row.number == BLIND_CALLER || row.number == ATTENDED_CALLER))
                ++answered;
        }
        return answered == 2;
    }));
    // And the bar is back in business: registered, ready for the next call.
    QVERIFY(waitForLamp(desktop, bar, true, QStringLiteral("transfer-6-idle"), 5000));
}

QTEST_GUILESS_MAIN(tst_E2eTransfer)
#include "tst_e2e_transfer.moc"
