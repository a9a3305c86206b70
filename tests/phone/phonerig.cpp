#include "tests/phone/phonerig.h"

#include "app/appdir.h"
#include "app/constants.h"
#include "app/vellogger.h"
#include "phone/velphone.h"
#include "store/veldata.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QTest>

const QString PhoneRig::USER = QStringLiteral("1001");
const QString PhoneRig::PASSWORD = QStringLiteral("s3cret");

PhoneRig::PhoneRig()
{
    qRegisterMetaType<QMap<QString, QString>>("QMap<QString, QString>");
    AppDir::setPathForTesting(m_dir.path());
    QDir().mkpath(AppDir::file(LOG_DIR));
    m_oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/home")));
    QDir().mkpath(m_dir.path() + QStringLiteral("/home"));
    m_logger.reset(new VelLogger);
    m_store.reset(new VelData);
}

PhoneRig::~PhoneRig()
{
    stopPhone();
    m_signals.reset();
    m_phone.reset();
    m_store.reset();
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    m_logger.reset();
    qputenv("HOME", m_oldHome);
    AppDir::setPathForTesting(QString());
}

bool PhoneRig::havePulse()
{
    if (!qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        return true;
    qWarning("PULSE_SERVER is not set: start the private PulseAudio of the test set-up");
    return false;
}

void PhoneRig::saveAccount(const QString &user, const QString &password, int port)
{
    QMap<QString, QString> account;
    account.insert(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    account.insert(QStringLiteral("port"), port > 0 ? QString::number(port) : QString());
    account.insert(QStringLiteral("userId"), user);
    account.insert(QStringLiteral("password"), password);
    m_store->save_account_settings(account);
}

void PhoneRig::saveGeneral(const QString &key, const QString &value)
{
    m_store->save_general_settings({ { key, value } });
}

void PhoneRig::saveAudio(const QMap<QString, QString> &audio)
{
    m_store->save_audio_settings(audio);
}

void PhoneRig::startPhone()
{
    m_phone.reset(new VelPhone(nullptr, m_store.data(), m_logger.data()));
    m_signals.reset(new SignalLog(m_phone.data()));
    m_phone->start();
}

bool PhoneRig::startRegistered(SippPeer &registrar)
{
    registrar.set(QStringLiteral("PASSWORD"), PASSWORD);
    if (!registrar.isRunning() && !registrar.start())
        return false;
    saveAccount(USER, PASSWORD, registrar.port());
    startPhone();
    return waitRegistered(registrar.report());
}

void PhoneRig::startAt(
    const KamailioPeer &server, const QString &transport, const QMap<QString, QString> &keys)
{
    const int port = transport == QLatin1String("tls") ? server.tlsPort()
        : transport == QLatin1String("tcp")            ? server.tcpPort()
                                                       : server.udpPort();
    saveAccount(USER, PASSWORD, port);
    QMap<QString, QString> account = keys;
    account.insert(QStringLiteral("transport"), transport);
    m_store->save_account_settings(account);
    startPhone();
}

QString PhoneRig::logText() const
{
    QFile file(VelLogger::filePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool PhoneRig::waitRegistered(const QString &peerReport)
{
    // Registered, and the ready text that follows delivered too.
    if (QTest::qWaitFor(
            [&] {
                return spy().contains("signal_show_operator_login")
                    && spy()
                           .namesFrom("signal_show_operator_login")
                           .contains(QStringLiteral("signal_update_dialog_status"));
            },
            10000))
        return true;
    qWarning("not registered:\n%s%s", qPrintable(spy().dump()), qPrintable(peerReport));
    return false;
}

bool PhoneRig::reach(int state, const QString &status)
{
    return QTest::qWaitFor(
        [&] {
            const QStringList texts = statusTexts(spy());
            return m_phone->get_phone_state() == state && !texts.isEmpty() && texts.last() == status;
        },
        10000);
}

bool PhoneRig::stopPhone()
{
    if (!m_phone)
        return true;
    m_phone->stop();
    return m_phone->wait(20000);
}

int PhoneRig::phonePortFrom(const SippPeer &registrar)
{
    return phonePort(registrar);
}

void PhoneRig::aim(
    SippPeer &caller, const SippPeer &registrar, const QString &callerUser, const QString &displayName)
{
    const int phonePort = phonePortFrom(registrar);
    caller.setRemote(QStringLiteral("127.0.0.1:%1").arg(phonePort));
    caller.set(QStringLiteral("USER"), USER);
    caller.set(QStringLiteral("PHONE_PORT"), QString::number(phonePort));
    caller.set(QStringLiteral("PEER"), callerUser);
    const QString address = QStringLiteral("<sip:%1@127.0.0.1:%2>").arg(callerUser).arg(caller.port());
    caller.set(QStringLiteral("FROM"),
        displayName.isEmpty() ? address : QLatin1Char('"') + displayName + QStringLiteral("\" ") + address);
}

QStringList PhoneRig::statusTexts(const SignalLog &spy)
{
    QStringList texts;
    for (const SignalLog::Entry &entry : spy.entries()) {
        if (entry.name == "signal_update_dialog_status")
            texts << entry.args.value(0).toString();
    }
    return texts;
}

#if defined(__SANITIZE_ADDRESS__)
// liblinphone 5.1 leaks the Refer-To, Referred-By and Replaces headers it builds for each REFER
// (blind and attended transfer). LeakSanitizer adds these to the suppressions file of the test
// set-up; the pattern names only the library's own function.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:LinphonePrivate::SalCallOp::refer\n";
}
#endif
