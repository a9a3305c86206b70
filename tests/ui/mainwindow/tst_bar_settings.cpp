// The bar with its setting window: opened by itself on a first start, reused afterwards, and
// a saved account reported to the CTI server (HTTPS, self-signed) and registered at sipp.
#include "tests/support/http/httptestserver.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"
#include "tests/ui/mainwindow/barfixture.h"
#include "tests/ui/support/modalanswer.h"

#include "app/constants.h"
#include "store/veldata.h"
#include "ui/mainwindow/mainwindow.h"
#include "ui/settings/settingwindow.h"

#include <QLineEdit>
#include <QtTest>

class tst_BarSettings : public QObject
{
    Q_OBJECT

private:
    static QList<SettingWindow *> settingWindows(MainWindow *w) { return w->findChildren<SettingWindow *>(); }

    static void typeAccount(SettingWindow *window, int port, const QString &user)
    {
        window->findChild<QLineEdit *>(QStringLiteral("address"))->setText(QStringLiteral("127.0.0.1"));
        window->findChild<QLineEdit *>(QStringLiteral("port"))->setText(QString::number(port));
        window->findChild<QLineEdit *>(QStringLiteral("userid"))->setText(user);
        window->findChild<QLineEdit *>(QStringLiteral("password"))->setText(QStringLiteral("s3cret"));
    }

private slots:
    void firstStartOpensSettingWindowOnce()
    {
        BarFixture bar;
        QList<SettingWindow *> windows = settingWindows(bar.window());
        QCOMPARE(windows.size(), 1);
        QVERIFY(windows[0]->isVisible());
        QCOMPARE(windows[0]->windowTitle(), TITLE_SETTING);

        windows[0]->hide();
        bar.button("settingButton")->click();
        bar.button("settingButton")->click();
        QCOMPARE(settingWindows(bar.window()), windows); // the same window, brought back
        QVERIFY(windows[0]->isVisible());
    }

    void configuredAccountOpensNothing()
    {
        BarFixture bar({ { CATEGORY_ACCOUNT, BarFixture::account(QStringLiteral("1001"), 5060) } });
        QVERIFY(settingWindows(bar.window()).isEmpty());
    }

    void savedAccountIsReportedAndRegistered()
    {
        HttpTestServer cti(HttpTestServer::Https);
        QVERIFY2(cti.start(), qPrintable(cti.errorString()));
        cti.setReply(CTI_PATH.toUtf8(), { 200, "application/json", R"({"result":0,"message":""})" });
        SippPeer registrar(SippScenario::registrar());
        registrar.set(QStringLiteral("PASSWORD"), QStringLiteral("s3cret"));
        QVERIFY(registrar.start());

        // The operator server is prepared in advance; the account is typed on the first start.
        BarFixture bar({ { CATEGORY_ACCOUNT,
            { { QStringLiteral("operatorAddress"), QStringLiteral("127.0.0.1:%1").arg(cti.port()) } } } });
        QList<SettingWindow *> windows = settingWindows(bar.window());
        QCOMPARE(windows.size(), 1);
        typeAccount(windows[0], registrar.port(), QStringLiteral("1001"));
        ModalAnswer noBox(QMessageBox::Yes);
        windows[0]->findChild<QPushButton *>(QStringLiteral("saveButton"))->click();
        QVERIFY(windows[0]->isHidden());

        QTRY_COMPARE_WITH_TIMEOUT(cti.requests(CTI_PATH.toUtf8()).size(), 1, 10000);
        const HttpRequest request = cti.requests(CTI_PATH.toUtf8()).first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.body, QByteArray("action=set_op_status&username=&passwrod=&status=0"));
        QTRY_VERIFY_WITH_TIMEOUT(bar.label("dialogStatus")->text() == MSG_READY_TO_DIAL, 10000);
        QCOMPARE(bar.label("userId")->text(), QStringLiteral("1001"));
        QTest::qWait(200); // the reply is handled without any box
        QVERIFY2(!noBox.seen(), qPrintable(noBox.text()));
    }

    void noOperatorServerSendsNoRequest()
    {
        HttpTestServer cti(HttpTestServer::Https);
        QVERIFY(cti.start());
        SippPeer registrar(SippScenario::registrar());
        registrar.set(QStringLiteral("PASSWORD"), QStringLiteral("s3cret"));
        QVERIFY(registrar.start());
        BarFixture bar;
        SettingWindow *window = settingWindows(bar.window()).value(0);
        QVERIFY(window);
        typeAccount(window, registrar.port(), QStringLiteral("1002"));
        window->findChild<QPushButton *>(QStringLiteral("saveButton"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(bar.label("dialogStatus")->text() == MSG_READY_TO_DIAL, 10000);
        QVERIFY(cti.requests().isEmpty());
    }
};

QTEST_MAIN(tst_BarSettings)
#include "tst_bar_settings.moc"
