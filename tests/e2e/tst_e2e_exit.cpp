// Leaving the program in the middle of a call: after "はい" in the exit confirmation the caller
// gets a BYE, the registrar an un-REGISTER, and the process ends with status 0.
#include "tests/e2e/desktop.h"
#include "tests/e2e/e2esupport.h"
#include "tests/e2e/screenpoints.h"
#include "tests/e2e/tarselapp.h"

#include "app/constants.h"
#include "store/veldata.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"

#include <QtTest>

using namespace E2e;

class tst_E2eExit : public QObject
{
    Q_OBJECT

private slots:
    void exitDuringCallSendsBye();
};

void tst_E2eExit::exitDuringCallSendsBye()
{
    E2eDesktop desktop;
    QVERIFY2(desktop.start(), qPrintable(desktop.error()));
    SippPeer registrar(SippScenario::registrar(), 120);
    TarselApp app(desktop);
    QString why;
    const qulonglong bar
        = startRegistered(desktop, app, registrar, {}, QStringLiteral("exit-0-registered"), &why);
    QVERIFY2(bar, qPrintable(why));

    SippPeer caller(
        SippScenario::caller(SippScenario::awaitAnswer(200) + SippScenario::expect(QStringLiteral("BYE")),
            SippScenario::sdp()),
        60);
    aimCaller(caller, phonePort(registrar), QStringLiteral("0451113333"));
    QVERIFY(caller.start());
    QVERIFY2(answerFromBar(desktop, bar, caller), qPrintable(caller.report()));
    QTest::qWait(1000);
    desktop.screenshot(QStringLiteral("exit-1-in-call"));
    QVERIFY(caller.received(QStringLiteral("BYE")).isEmpty());

    QVERIFY2(
        exitFromMenu(desktop, bar, true, QStringLiteral("exit-2-confirmation-during-call")), "no exit box");

    QVERIFY2(app.waitForExit(20000), "the program did not end after はい");
    QCOMPARE(app.exitCode(), 0);
    QVERIFY2(caller.waitForFinished(10000), qPrintable(caller.report()));
    QCOMPARE(caller.received(QStringLiteral("BYE")).size(), 1);
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(registrar.report()));
}

QTEST_GUILESS_MAIN(tst_E2eExit)
#include "tst_e2e_exit.moc"
