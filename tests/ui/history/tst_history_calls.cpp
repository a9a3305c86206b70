// Real calls from and to sipp on 127.0.0.1 through the bar and its engine: every call that
// ends appears in the right tabs of the bar's history window, and a call-back chosen there
// goes out on the wire and comes back as a row of its own.
#include "tests/support/sanitized.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"
#include "tests/ui/history/uidriver.h"
#include "tests/ui/mainwindow/barfixture.h"
#include "ui/history/historyitemdelegate.h"
#include "ui/history/historywindow.h"

#include "app/constants.h"
#include "store/veldata.h"
#include "ui/mainwindow/mainwindow.h"

#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

namespace {
const QString USER = QStringLiteral("1001");
const QString ANSWERED_CALLER = QStringLiteral("0451234567");
const QString DECLINED_CALLER = QStringLiteral("0459999999");
const QString DIALLED = QStringLiteral("0312345678");
// Generous: under the sanitizers with slow unwinding on a busy machine the engine needs close to
// a minute to start and half a minute for a call; every wait ends as soon as it is met.
constexpr int WAIT_MS = 120000;
constexpr int SIPP_SECONDS = 600;

} // namespace

class tst_HistoryCalls : public QObject
{
    Q_OBJECT

private:
    HistoryWindow *m_history = nullptr;

    QTableView *table(const char *name) const
    {
        return m_history->findChild<QTableView *>(QLatin1String(name));
    }

    // A column of a tab, top to bottom.
    QStringList column(const char *tableName, int column) const
    {
        QAbstractItemModel *model = table(tableName)->model();
        QStringList values;
        for (int r = 0; r < model->rowCount(); ++r)
            values << model->index(r, column).data().toString();
        return values;
    }

    QStringList numbers(const char *tableName) const
    {
        return column(tableName, HISTORY_COLUMN_PHONE_NUMBER);
    }

    // sipp calls the bar from `from` and runs `steps` after its INVITE.
    static void startCaller(SippPeer &caller, const SippPeer &registrar, const QString &from)
    {
        caller.set(QStringLiteral("USER"), USER);
        caller.set(QStringLiteral("PHONE_PORT"), QString::number(phonePort(registrar)));
        caller.set(QStringLiteral("FROM"), QStringLiteral("<sip:%1@127.0.0.1>").arg(from));
        caller.setRemote(QStringLiteral("127.0.0.1:%1").arg(phonePort(registrar)));
        QVERIFY(caller.start());
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QFAIL("run through scripts/test: the calls need the private PulseAudio");
    }

    void callsReachTheTabsAndCallBackDials()
    {
        using namespace SippScenario;
        // The registrar turns every call of the bar down: unanswered outgoing calls.
        SippPeer registrar(SippScenario::registrar(answer(486, QStringLiteral("Busy Here"))), SIPP_SECONDS);
        registrar.set(QStringLiteral("PASSWORD"), QStringLiteral("s3cret"));
        registrar.setCalls(3); // the registration and two INVITEs
        QVERIFY(registrar.start());
        QScopedPointer<BarFixture> fixture(
            new BarFixture({ { CATEGORY_ACCOUNT, BarFixture::account(USER, registrar.port()) } }));
        BarFixture &bar = *fixture;
        bar.window()->show();
        QLabel *status = bar.label("dialogStatus");
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_READY_TO_DIAL, WAIT_MS);
        QVERIFY2(phonePort(registrar) > 0, qPrintable(registrar.report()));
        m_history = bar.window()->findChild<HistoryWindow *>();
        QVERIFY(m_history);
        QAbstractItemModel *all = table("allDialogTable")->model();

        // An incoming call, answered from the bar; the caller hangs up after a second.
        SippPeer answered(caller(awaitAnswer(200) + pause(1000) + callerRequest(QStringLiteral("BYE"), 2)
                                  + expectResponse(200),
                              sdp()),
            SIPP_SECONDS);
        startCaller(answered, registrar, ANSWERED_CALLER);
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_INCOMING, WAIT_MS);
        QTest::mouseClick(bar.button("dialogButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(all->rowCount(), 1, WAIT_MS);
        QVERIFY2(answered.waitForFinished(WAIT_MS), qPrintable(answered.report()));

        // An incoming call, declined with the hang-up button while it rings.
        SippPeer declined(caller(awaitAnswer(486), sdp()), SIPP_SECONDS);
        startCaller(declined, registrar, DECLINED_CALLER);
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_INCOMING, WAIT_MS);
        QTest::mouseClick(bar.button("terminateButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(all->rowCount(), 2, WAIT_MS);
        QVERIFY2(declined.waitForFinished(WAIT_MS), qPrintable(declined.report()));

        // A typed number that the other side never answers.
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_READY_TO_DIAL, WAIT_MS);
        QTest::keyClicks(bar.window(), DIALLED);
        QTest::keyClick(bar.window(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(all->rowCount(), 3, WAIT_MS);

        QTest::mouseClick(bar.button("historyButton"), Qt::LeftButton);
        QVERIFY(QTest::qWaitForWindowExposed(m_history));
        QCOMPARE(numbers("allDialogTable"), QStringList({ DIALLED, DECLINED_CALLER, ANSWERED_CALLER }));
        QCOMPARE(column("allDialogTable", HISTORY_COLUMN_STATUS), QStringList({ "4", "3", "1" }));
        const QStringList times = column("allDialogTable", HISTORY_COLUMN_DIALOG_TIME);
        QCOMPARE(times.mid(0, 2), QStringList({ "00:00:00", "00:00:00" }));
        QVERIFY2(times[2] >= QStringLiteral("00:00:02")
                && (UNDER_SANITIZER || times[2] <= QStringLiteral("00:00:10")),
            qPrintable(times[2]));
        QCOMPARE(numbers("incomeDialogTable"), QStringList({ DECLINED_CALLER, ANSWERED_CALLER }));
        QCOMPARE(numbers("outgoingDialogTable"), QStringList({ DIALLED }));
        QCOMPARE(numbers("declinedDialogTable"), QStringList({ DECLINED_CALLER }));

        // Call the missed caller back from the missed tab's menu.
        m_history->findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(3);
        QTableView *missed = table("declinedDialogTable");
        MenuSeen seen;
        answerNextMenu(TEXT_HISTORY_DIAL, &seen);
        QTest::mouseClick(missed->viewport(), Qt::RightButton, {},
            missed->visualRect(missed->model()->index(0, HISTORY_COLUMN_DIALOG_DATE)).center());
        QVERIFY(seen.shown);
        QVERIFY(!m_history->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(registrar.received(QStringLiteral("INVITE")).size(), 2, WAIT_MS);
        const QString requestLine = registrar.received(QStringLiteral("INVITE")).last().startLine();
        QVERIFY2(requestLine.startsWith(QStringLiteral("INVITE sip:%1@").arg(DECLINED_CALLER)),
            qPrintable(requestLine));

        QTRY_COMPARE_WITH_TIMEOUT(all->rowCount(), 4, WAIT_MS);
        QCOMPARE(column("allDialogTable", HISTORY_COLUMN_STATUS).first(), QStringLiteral("4"));
        QCOMPARE(numbers("outgoingDialogTable"), QStringList({ DECLINED_CALLER, DIALLED }));
        QCOMPARE(numbers("declinedDialogTable"), QStringList({ DECLINED_CALLER }));

        m_history = nullptr;
        fixture.reset();
        QVERIFY2(registrar.waitForFinished(WAIT_MS), qPrintable(registrar.report()));
    }
};

QTEST_MAIN(tst_HistoryCalls)
#include "tst_history_calls.moc"
