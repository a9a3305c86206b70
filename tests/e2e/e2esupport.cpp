#include "tests/e2e/e2esupport.h"

#include "tests/e2e/desktop.h"
#include "tests/e2e/screenpoints.h"
#include "tests/e2e/tarselapp.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"

#include "app/constants.h"
#include "store/veldata.h"

#include <QColor>
#include <QFile>
#include <QRegularExpression>

namespace {
int distance(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
}

QRgb middleOf(const QString &image)
{
    const QImage picture(image);
    return picture.isNull() ? 0 : picture.pixel(picture.width() / 2, picture.height() / 2);
}
} // namespace

namespace E2e {

const QString USER = QStringLiteral("1001");
const QString PASSWORD = QStringLiteral("s3cret");

QString exactTitle(const QString &title)
{
    return QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$');
}

bool lampIsOnline(const QImage &screen, const QRect &bar)
{
    if (screen.isNull() || bar.isEmpty())
        return false;
    // The lamp is drawn from these images, scaled to its 16 x 16 pixels.
    const QRgb online = middleOf(QStringLiteral(TARSEL_SOURCE_DIR "/resources/images/online.png"));
    const QRgb offline = middleOf(QStringLiteral(TARSEL_SOURCE_DIR "/resources/images/offline.png"));
    const QRgb shown = screen.pixel(bar.topLeft() + Bar::LAMP);
    return distance(shown, online) < 30 && distance(shown, online) < distance(shown, offline);
}

bool waitForLamp(const E2eDesktop &desktop, qulonglong bar, bool online, const QString &name, int msecs)
{
    return waitUntil(
        msecs, [&] { return lampIsOnline(desktop.screenshot(name), desktop.geometry(bar)) == online; });
}

int historyRowsShown(const QImage &screen, const QRect &window)
{
    int rows = 0;
    for (int slot = 0; slot < HistoryForm::ROWS_VISIBLE; ++slot) {
        const int top = window.top() + HistoryForm::FIRST_ROW_TOP + slot * HistoryForm::ROW_HEIGHT;
        int ink = 0;
        for (int y = top + 4; y < top + HistoryForm::ROW_HEIGHT - 4; ++y) {
            for (int x = window.left() + HistoryForm::TABLE_LEFT + 60;
                 x < window.left() + HistoryForm::TABLE_LEFT + HistoryForm::TABLE_WIDTH - 10; ++x) {
                if (qGray(screen.pixel(x, y)) < 100)
                    ++ink;
            }
        }
        // A number and a date leave well over a hundred dark pixels; grid lines leave none.
        if (ink > 100)
            ++rows;
    }
    return rows;
}

bool hasMessage(const SippPeer &peer, bool received, const QString &startLine)
{
    for (const SipMessage &message : peer.messages()) {
        if (message.received == received && message.startLine().startsWith(startLine))
            return true;
    }
    return false;
}

qulonglong startRegistered(const E2eDesktop &desktop, TarselApp &app, SippPeer &registrar,
    const QMap<int, QMap<QString, QString>> &more, const QString &shot, QString *why)
{
    registrar.set(QStringLiteral("PASSWORD"), PASSWORD);
    QMap<int, QMap<QString, QString>> settings = more;
    settings[CATEGORY_ACCOUNT].insert(account(registrar.port()));
    if (!registrar.start() || !app.prepareSettings(settings) || !app.start()) {
        *why = QStringLiteral("sipp, the database or the program did not start");
        return 0;
    }
    const qulonglong bar = desktop.waitForWindow(exactTitle(APP_TITLE), 30000, Bar::SIZE);
    if (!bar) {
        *why = QStringLiteral("no bar: ") + app.output();
        return 0;
    }
    if (!waitForLamp(desktop, bar, true, shot, 15000)) {
        *why = QStringLiteral("the lamp stayed off: ") + registrar.report();
        return 0;
    }
    return bar;
}

bool answerFromBar(const E2eDesktop &desktop, qulonglong bar, const SippPeer &caller)
{
    if (!waitUntil(10000, [&] { return hasMessage(caller, true, QStringLiteral("SIP/2.0 180")); }))
        return false;
    desktop.click(desktop.geometry(bar).topLeft() + Bar::DIAL);
    return waitUntil(10000, [&] { return hasMessage(caller, true, QStringLiteral("SIP/2.0 200")); });
}

void typeOnBar(const E2eDesktop &desktop, qulonglong bar, const QString &text)
{
    desktop.click(desktop.geometry(bar).topLeft() + Bar::NUMBER);
    QTest::qWait(300);
    desktop.type(text);
}

bool exitFromMenu(const E2eDesktop &desktop, qulonglong bar, bool confirm, const QString &name)
{
    // The menu opens at the pointer.
    const QPoint at = desktop.geometry(bar).topLeft() + Bar::NUMBER;
    desktop.click(at, 3);
    QTest::qWait(500);
    desktop.click(at + BarMenu::EXIT);
    const qulonglong box = desktop.waitForWindow(exactTitle(TITLE_EXIT_CONFIRM), 5000);
    if (!box)
        return false;
    desktop.screenshot(name);
    desktop.click(
        desktop.geometry(box).bottomRight() + (confirm ? MessageBoxButtons::YES : MessageBoxButtons::NO));
    return true;
}

void aimCaller(SippPeer &caller, int phonePort, const QString &number, const QString &name)
{
    caller.setRemote(QStringLiteral("127.0.0.1:%1").arg(phonePort));
    caller.set(QStringLiteral("USER"), USER);
    caller.set(QStringLiteral("PHONE_PORT"), QString::number(phonePort));
    caller.set(QStringLiteral("PEER"), number);
    const QString address = QStringLiteral("<sip:%1@127.0.0.1:%2>").arg(number).arg(caller.port());
    caller.set(
        QStringLiteral("FROM"), name.isEmpty() ? address : QStringLiteral("\"%1\" ").arg(name) + address);
}

QMap<QString, QString> account(int registrarPort)
{
    return { { QStringLiteral("address"), QStringLiteral("127.0.0.1") },
        { QStringLiteral("port"), QString::number(registrarPort) }, { QStringLiteral("userId"), USER },
        { QStringLiteral("password"), PASSWORD } };
}

QByteArray callerPage()
{
    QFile page(QStringLiteral(TARSEL_SOURCE_DIR "/scripts/demo-files/caller.html"));
    return page.open(QIODevice::ReadOnly) ? page.readAll() : QByteArray();
}

QString acceptRefer(int notifyCseq)
{
    return QStringLiteral("<recv request=\"REFER\"/>\n")
        + SippScenario::respond(202, QStringLiteral("Accepted"))
        + QStringLiteral("<send retrans=\"500\"><![CDATA[\n"
                         "NOTIFY [$peercontact] SIP/2.0\n"
                         "Via: SIP/2.0/UDP [local_ip]:[local_port];branch=[branch]\n"
                         "From: {{FROM}};tag=[pid]caller[call_number]\n"
                         "To: [$peerfrom]\n"
                         "Call-ID: [call_id]\n"
                         "CSeq: %1 NOTIFY\n"
                         "Contact: <sip:{{PEER}}@[local_ip]:[local_port]>\n"
                         "Max-Forwards: 70\n"
                         "Event: refer\n"
                         "Subscription-State: terminated;reason=noresource\n"
                         "Content-Type: message/sipfrag;version=2.0\n"
                         "Content-Length: [len]\n"
                         "\n"
                         "SIP/2.0 200 OK\n"
                         "]]></send>\n"
                         "<recv response=\"200\"/>\n")
              .arg(notifyCseq);
}

QString transferredCaller()
{
    return SippScenario::caller(SippScenario::awaitAnswer(200)
            + SippScenario::expect(QStringLiteral("INVITE"), SippScenario::sdp(QStringLiteral("recvonly"), 2))
            + QStringLiteral("<recv request=\"ACK\"/>\n") + acceptRefer(2)
            + SippScenario::expect(QStringLiteral("BYE")),
        SippScenario::sdp());
}

} // namespace E2e
