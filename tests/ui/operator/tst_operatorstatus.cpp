// The operator status request against a local HTTPS server with a self-signed certificate,
// and the operator login dialog.
#include "tests/support/http/httptestserver.h"
#include "tests/ui/support/modalanswer.h"

#include "app/appdir.h"
#include "app/constants.h"
#include "app/vellogger.h"
#include "store/veldata.h"
#include "ui/operator/operatorlogin.h"
#include "ui/operator/operatorstatus.h"

#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

class tst_OperatorStatus : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;
    VelLogger *m_logger = nullptr;
    VelData *m_store = nullptr;
    OperatorStatus *m_status = nullptr;
    HttpTestServer *m_server = nullptr;

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_server->port()); }

    QString logText() const
    {
        QFile f(VelLogger::filePath());
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

    // Waits until the reply has been handled (its box, if any, answered by `answer`).
    bool waitForReply(QSignalSpy &finished, int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (finished.isEmpty() && timer.elapsed() < timeoutMs)
            QTest::qWait(20);
        return !finished.isEmpty();
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        AppDir::setPathForTesting(m_dir->path());
        AppDir::makeDataDirectories();
        m_logger = new VelLogger;
        m_store = new VelData;
        m_status = new OperatorStatus(m_store, nullptr, m_logger);
        // Wired as the main window wires it.
        connect(m_status->network_manager(), &QNetworkAccessManager::finished, m_status,
            &OperatorStatus::set_op_status_finished);
        connect(m_status->network_manager(), &QNetworkAccessManager::sslErrors, m_status,
            &OperatorStatus::ssl_error_handler);
        m_server = new HttpTestServer(HttpTestServer::Https);
        QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    }

    void cleanup()
    {
        delete m_server;
        delete m_status;
        delete m_store;
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
        delete m_logger;
        AppDir::setPathForTesting(QString());
        delete m_dir;
    }

    void resetPostsStatusZeroToSelfSignedServer()
    {
        m_server->setReply(CTI_PATH.toUtf8(), { 200, "application/json", R"({"result":0,"message":"ok"})" });
        QSignalSpy finished(m_status->network_manager(), &QNetworkAccessManager::finished);
        ModalAnswer answer(QMessageBox::Yes);
        QVERIFY(m_status->is_login_pending());
        m_status->reset_operator_status(address());
        QVERIFY(waitForReply(finished));
        QVERIFY2(!answer.seen(), qPrintable(answer.text()));
        QVERIFY(!m_status->is_login_pending());
        QCOMPARE(m_status->confirmed_status(), 0);

        const QList<HttpRequest> requests = m_server->requests(CTI_PATH.toUtf8());
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].method, QByteArray("POST"));
        QVERIFY(requests[0].tls);
        QCOMPARE(requests[0].header("content-type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(requests[0].body, QByteArray("action=set_op_status&username=&passwrod=&status=0"));
    }

    void emptyAddressSendsNothing()
    {
        m_status->reset_operator_status(QString());
        QTest::qWait(300);
        QVERIFY(m_server->requests().isEmpty());
    }

    void replyKinds_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("shown"); // empty: no box
        QTest::newRow("authentication error")
            << 200 << QByteArray(R"({"result":1,"message":"invalid"})") << "認証エラー\ninvalid";
        QTest::newRow("system error") << 200 << QByteArray(R"({"result":99})") << "システムエラー\n";
        QTest::newRow("2.9 is a server error")
            << 200 << QByteArray(R"({"result":2.9,"message":"x"})") << "サーバエラー\nx";
        QTest::newRow("no body") << 200 << QByteArray() << "サーバエラー\n";
        QTest::newRow("not an object") << 200 << QByteArray("[0]") << "サーバエラー\n";
        QTest::newRow("not JSON") << 200 << QByteArray("<html>maintenance</html>") << "サーバエラー\n";
        QTest::newRow("HTTP error with result 0") << 500 << QByteArray(R"({"result":0})") << "サーバエラー\n";
        QTest::newRow("HTTP error with result 1")
            << 403 << QByteArray(R"({"result":1,"message":"invalid"})") << "認証エラー\ninvalid";
        QTest::newRow("HTTP error with result 99")
            << 503 << QByteArray(R"({"result":99,"message":"db"})") << "システムエラー\ndb";
        QTest::newRow("HTTP error without JSON") << 502 << QByteArray("Bad Gateway") << "サーバエラー\n";
        QTest::newRow("accepted") << 200 << QByteArray(R"({"result":0})") << "";
    }

    void replyKinds()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, shown);
        m_server->setReply(CTI_PATH.toUtf8(), { status, "application/json", body });
        QSignalSpy finished(m_status->network_manager(), &QNetworkAccessManager::finished);
        ModalAnswer answer(QMessageBox::Yes);
        m_status->reset_operator_status(address());
        QVERIFY(waitForReply(finished));
        if (shown.isEmpty()) {
            QVERIFY(!answer.seen());
            QVERIFY(!m_status->is_login_pending());
            return;
        }
        QCOMPARE(answer.count(), 1);
        QCOMPARE(answer.title(), TITLE_OPERATOR_LOGIN);
        QCOMPARE(answer.text(), shown);
        QCOMPARE(answer.icon(), QMessageBox::Warning);
        QCOMPARE(answer.buttons().size(), 1);
        QVERIFY(m_status->is_login_pending());
    }

    void unreachableServerIsAServerError()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        QSignalSpy finished(m_status->network_manager(), &QNetworkAccessManager::finished);
        ModalAnswer answer(QMessageBox::Yes);
        m_status->reset_operator_status(QStringLiteral("127.0.0.1:%1").arg(port));
        QVERIFY(waitForReply(finished));
        QCOMPARE(answer.text(), MSG_CTI_SERVER_ERROR);
        QVERIFY(logText().contains(QStringLiteral("operator status request failed")));
    }

    void serverThatNeverAnswersTimesOut()
    {
        m_server->setReply(CTI_PATH.toUtf8(), HttpReply::slow(OperatorStatus::TRANSFER_TIMEOUT_MS + 10000));
        QSignalSpy finished(m_status->network_manager(), &QNetworkAccessManager::finished);
        ModalAnswer answer(QMessageBox::Yes);
        m_status->reset_operator_status(address());
        QVERIFY(waitForReply(finished, OperatorStatus::TRANSFER_TIMEOUT_MS + 8000));
        QCOMPARE(answer.text(), MSG_CTI_SERVER_ERROR + MSG_CTI_NO_ANSWER);
    }

    void credentialsAreFormEncoded()
    {
        QVERIFY(m_store->save_account_settings({ { QStringLiteral("operatorAddress"), address() } }));
        m_server->setReply(CTI_PATH.toUtf8(), { 200, "application/json", R"({"result":0})" });
        QSignalSpy finished(m_status->network_manager(), &QNetworkAccessManager::finished);
        m_status->set_op_status(QStringLiteral("op&status=13"), QStringLiteral("p=w&x 山"));
        QVERIFY(waitForReply(finished));
        const QList<HttpRequest> requests = m_server->requests(CTI_PATH.toUtf8());
        QCOMPARE(requests.size(), 1);
        const auto fields = HttpTestServer::formFields(requests[0].body);
        QCOMPARE(fields.size(), 4);
        QCOMPARE(fields[0], qMakePair(QStringLiteral("action"), QStringLiteral("set_op_status")));
        QCOMPARE(fields[1], qMakePair(QStringLiteral("username"), QStringLiteral("op&status=13")));
        QCOMPARE(fields[2], qMakePair(QStringLiteral("passwrod"), QStringLiteral("p=w&x 山")));
        QCOMPARE(fields[3], qMakePair(QStringLiteral("status"), QStringLiteral("0")));
    }

    void credentialsWithoutServerAreRefused()
    {
        ModalAnswer answer(QMessageBox::Yes);
        m_status->set_op_status(QStringLiteral("op"), QStringLiteral("pw"));
        QTRY_VERIFY(answer.seen());
        QCOMPARE(answer.title(), TITLE_ERROR);
        QCOMPARE(answer.text(), MSG_SET_OPERATOR_SERVER);
        QTest::qWait(200);
        QVERIFY(m_server->requests().isEmpty());
    }

    void statusChangeFlow()
    {
        QVERIFY(m_store->save_account_settings({ { QStringLiteral("operatorAddress"), address() },
            { QStringLiteral("operatorId"), QStringLiteral("op") },
            { QStringLiteral("operatorPW"), QStringLiteral("pw") } }));
        m_server->setReply(CTI_PATH.toUtf8(), { 200, "application/json", R"({"result":0})" });
        QSignalSpy finished(m_status->network_manager(), &QNetworkAccessManager::finished);
        // A reset makes the next status change be ignored (the selector's own reset).
        m_status->reset_operator_status(address());
        QVERIFY(waitForReply(finished));
        m_status->operator_status_change(3);
        QTest::qWait(200);
        QCOMPARE(m_server->requests(CTI_PATH.toUtf8()).size(), 1);
        QCOMPARE(m_status->requested_status(), 0);

        finished.clear();
        m_status->operator_status_change(3);
        QVERIFY(waitForReply(finished));
        QCOMPARE(m_status->requested_status(), 12);
        QCOMPARE(m_status->confirmed_status(), 12);
        QVERIFY(m_server->requests(CTI_PATH.toUtf8()).last().body.endsWith("&status=12"));

        // A refused status leaves the confirmed one as it was.
        m_server->setReply(CTI_PATH.toUtf8(), { 200, "application/json", R"({"result":1})" });
        finished.clear();
        ModalAnswer answer(QMessageBox::Yes);
        m_status->operator_status_change(4);
        QVERIFY(waitForReply(finished));
        QVERIFY(answer.seen());
        QCOMPARE(m_status->requested_status(), 13);
        QCOMPARE(m_status->confirmed_status(), 12);
    }

    void loginDialog()
    {
        OperatorLogin dialog;
        QCOMPARE(dialog.windowTitle(), TITLE_OPERATOR_LOGIN);
        QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("password"))->echoMode(), QLineEdit::Password);
        QSignalSpy login(&dialog, &OperatorLogin::signal_set_op_status);
        dialog.show();
        dialog.findChild<QLineEdit *>(QStringLiteral("username"))->setText(QStringLiteral("op"));
        {
            ModalAnswer answer(QMessageBox::Yes);
            dialog.findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
            QCOMPARE(answer.text(), MSG_ENTER_OPERATOR_CREDENTIALS);
        }
        QCOMPARE(login.count(), 0);
        QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("username"))->text(), QStringLiteral("op"));
        dialog.findChild<QLineEdit *>(QStringLiteral("password"))->setText(QStringLiteral("pw"));
        dialog.findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
        QCOMPARE(login.count(), 1);
        QCOMPARE(login.at(0), (QVariantList { QStringLiteral("op"), QStringLiteral("pw") }));
        QVERIFY(dialog.isVisible());

        // "Later" hides the window before it asks for the selector to be left alone.
        bool hiddenWhenEmitted = false;
        connect(&dialog, &OperatorLogin::signal_reset_user_status_combox, this,
            [&] { hiddenWhenEmitted = dialog.isHidden(); });
        dialog.findChild<QPushButton *>(QStringLiteral("pushButton_2"))->click();
        QVERIFY(hiddenWhenEmitted);
    }
};

QTEST_MAIN(tst_OperatorStatus)
#include "tst_operatorstatus.moc"
