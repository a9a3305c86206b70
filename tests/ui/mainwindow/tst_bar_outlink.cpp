// The bar with the caller's page: real calls from sipp pop up the remote site window at the
// lower right, the page is requested from a local web server, and the popup slides out after
// the call — after the stored delay, or at once after a hang-up from its button — and comes
// back at once for the next caller. Without an outlink page the plain incoming window shows,
// and the web engine is never loaded.
#include "tests/support/http/httptestserver.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"
#include "tests/ui/mainwindow/barfixture.h"

#include "app/constants.h"
#include "phone/velphone.h"
#include "store/veldata.h"
#include "ui/mainwindow/mainwindow.h"
#include "ui/outlink/dialogincommingwindow.h"
#include "ui/outlink/remotesite.h"

#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>
#include <QtTest>

#include <unistd.h>

using namespace SippScenario;

namespace {
const QString USER = QStringLiteral("1001");
constexpr int WAIT = 15000;

// A caller that rings the registered bar as `number` and hangs up (BYE) after being answered.
void aim(SippPeer &caller, const SippPeer &registrar, const QString &number)
{
    const int port = phonePort(registrar);
    caller.setRemote(QStringLiteral("127.0.0.1:%1").arg(port));
    caller.set(QStringLiteral("USER"), USER);
    caller.set(QStringLiteral("PHONE_PORT"), QString::number(port));
    caller.set(QStringLiteral("PEER"), number);
    caller.set(
        QStringLiteral("FROM"), QStringLiteral("<sip:%1@127.0.0.1:%2>").arg(number).arg(caller.port()));
}

// Counts the times a window is hidden: a popup taken back by hiding and showing it flickers.
class HideCounter : public QObject
{
public:
    int hides = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Hide)
            ++hides;
        return QObject::eventFilter(watched, event);
    }
};

QString answeredThenHungUp()
{
    return caller(awaitAnswer(200) + pause(300) + callerRequest(QStringLiteral("BYE"), 2)
            + QStringLiteral("<recv response=\"200\"/>\n"),
        sdp());
}
} // namespace

class tst_BarOutlink : public QObject
{
    Q_OBJECT

private:
    HttpTestServer *m_web = nullptr;
    SippPeer *m_registrar = nullptr;
    BarFixture *m_bar = nullptr;

    void startBar(const QMap<QString, QString> &outlink, const QString &delaySeconds)
    {
        m_registrar = new SippPeer(registrar());
        m_registrar->set(QStringLiteral("PASSWORD"), QStringLiteral("s3cret"));
        QVERIFY(m_registrar->start());
        m_bar = new BarFixture({ { CATEGORY_ACCOUNT, BarFixture::account(USER, m_registrar->port()) },
            { CATEGORY_OUTLINK, outlink },
            { CATEGORY_GENERAL, { { QStringLiteral("dalayHiddenRemoteWindow"), delaySeconds } } } });
        QTRY_VERIFY_WITH_TIMEOUT(phonePort(*m_registrar) > 0, WAIT);
        QTRY_COMPARE_WITH_TIMEOUT(m_bar->label("dialogStatus")->text(), MSG_READY_TO_DIAL, WAIT);
    }

    RemoteSite *site() const { return m_bar->window()->findChild<RemoteSite *>(); }
    QPropertyAnimation *slide() const { return site() ? site()->findChild<QPropertyAnimation *>() : nullptr; }

    static QPoint shownPosition(QWidget *w)
    {
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        return QPoint(available.width() - w->width(), available.height() - w->height());
    }

    QMap<QString, QString> outlinkPage() const
    {
        return { { QStringLiteral("simpleUrl"), m_web->url(QStringLiteral("/popup")).toString() },
            { QStringLiteral("simpleMethod"), QStringLiteral("get") },
            { QStringLiteral("simpleParams"), QStringLiteral("tel=%CallerID%") } };
    }

    // Whether the web engine's libraries are mapped into this process.
    static bool webEngineLoaded()
    {
        QFile maps(QStringLiteral("/proc/self/maps"));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt5WebEngineCore");
    }

private slots:
    void init()
    {
        m_web = new HttpTestServer;
        QVERIFY(m_web->start());
    }

    void cleanup()
    {
        delete m_bar;
        m_bar = nullptr;
        delete m_registrar;
        m_registrar = nullptr;
        delete m_web;
    }

    // First of all: once loaded, the web engine stays in the process.
    void webEngineLoadedOnlyWithCallerPage()
    {
        startBar({}, QStringLiteral("0"));
        // A warm-up would start on the event-loop pass after the registration.
        QTest::qWait(200);
        QVERIFY(!webEngineLoaded());
        QVERIFY(!site());
        delete m_bar;
        m_bar = nullptr;
        delete m_registrar;
        m_registrar = nullptr;

        // With a caller's page, the popup and its web engine are there before the first call,
        // and nothing shows.
        startBar(outlinkPage(), QStringLiteral("0"));
        QTRY_VERIFY_WITH_TIMEOUT(site(), WAIT);
        QVERIFY(webEngineLoaded());
        QVERIFY(site()->isHidden());
        QVERIFY(m_web->requests("/popup").isEmpty());
    }

    void popupStaysForTheDelayThenSlidesOut()
    {
        startBar(outlinkPage(), QStringLiteral("1"));
        SippPeer first(answeredThenHungUp());
        aim(first, *m_registrar, QStringLiteral("2001"));
        QVERIFY(first.start());

        QTRY_VERIFY_WITH_TIMEOUT(site() && site()->isVisible(), WAIT);
        QCOMPARE(site()->pos(), shownPosition(site()));
        QTRY_COMPARE_WITH_TIMEOUT(m_web->requests("/popup").size(), 1, WAIT);
        QCOMPARE(m_web->requests("/popup").first().query, QByteArray("tel=2001"));
        QCOMPARE(m_bar->number(), QStringLiteral("2001"));

        m_bar->button("dialogButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_bar->label("dialogStatus")->text(), MSG_IN_CALL, WAIT);
        QVERIFY2(first.waitForFinished(WAIT), qPrintable(first.report()));
        QTRY_COMPARE_WITH_TIMEOUT(m_bar->label("dialogStatus")->text(), MSG_READY_TO_DIAL, WAIT);

        // The caller hung up: the page stays for the stored second, then slides down and hides.
        QVERIFY(site()->isVisible());
        QVERIFY(slide()->state() != QAbstractAnimation::Running);
        QTRY_VERIFY_WITH_TIMEOUT(slide()->state() == QAbstractAnimation::Running, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(site()->isHidden(), 4000);
        QVERIFY(site()->pos().y() > shownPosition(site()).y());
    }

    void hangUpFromPopupSlidesOutAtOnceAndNextCallComesBack()
    {
        startBar(outlinkPage(), QStringLiteral("30"));
        SippPeer first(caller(awaitAnswer(200) + expect(QStringLiteral("BYE")), sdp()));
        aim(first, *m_registrar, QStringLiteral("2001"));
        QVERIFY(first.start());
        QTRY_VERIFY_WITH_TIMEOUT(site() && site()->isVisible(), WAIT);
        site()->findChild<QPushButton *>(QStringLiteral("siteDialogButton"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_bar->label("dialogStatus")->text(), MSG_IN_CALL, WAIT);

        site()->findChild<QPushButton *>(QStringLiteral("siteTerminateButton"))->click();
        QVERIFY2(first.waitForFinished(WAIT), qPrintable(first.report()));
        // No 30-second wait after a hang-up from the button.
        QTRY_VERIFY_WITH_TIMEOUT(slide()->state() == QAbstractAnimation::Running, 3000);

        // The next caller while the page is sliding out: it is back at once, with the new page,
        // and never hidden on the way.
        HideCounter hides;
        site()->installEventFilter(&hides);
        SippPeer second(answeredThenHungUp());
        aim(second, *m_registrar, QStringLiteral("2002"));
        QVERIFY(second.start());
        QTRY_COMPARE_WITH_TIMEOUT(m_bar->number(), QStringLiteral("2002"), WAIT);
        QVERIFY(slide()->state() != QAbstractAnimation::Running);
        QVERIFY(site()->isVisible());
        QCOMPARE(site()->pos(), shownPosition(site()));
        QTRY_COMPARE_WITH_TIMEOUT(m_web->requests("/popup").size(), 2, WAIT);
        QCOMPARE(m_web->requests("/popup").last().query, QByteArray("tel=2002"));
        QCOMPARE(hides.hides, 0);
        site()->removeEventFilter(&hides);
        m_bar->button("dialogButton")->click();
        QVERIFY2(second.waitForFinished(WAIT), qPrintable(second.report()));
        // Once the button was used, every later end slides out at once too.
        QTRY_VERIFY_WITH_TIMEOUT(site()->isHidden(), 4000);
    }

    void withoutOutlinkPageThePlainPopupShows()
    {
        startBar({}, QString());
        SippPeer first(answeredThenHungUp());
        aim(first, *m_registrar, QStringLiteral("2003"));
        QVERIFY(first.start());
        DialogIncommingWindow *popup = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            (popup = m_bar->window()->findChild<DialogIncommingWindow *>()) && popup->isVisible(), WAIT);
        QCOMPARE(popup->pos(), shownPosition(popup));
        QVERIFY(!site());
        m_bar->button("dialogButton")->click();
        // Answered: the popup goes away as the call connects.
        QTRY_VERIFY_WITH_TIMEOUT(popup->isHidden(), WAIT);
        QVERIFY2(first.waitForFinished(WAIT), qPrintable(first.report()));
    }
};

int main(int argc, char *argv[])
{
    // The web engine, headless and as root: see tests/ui/outlink/outlinktestmain.h.
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    tst_BarOutlink test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_bar_outlink.moc"
