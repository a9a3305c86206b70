// Installing as the README tells an administrator: cmake --install into a prefix, settings
// prepared with sqlite3 from docs/example-settings.sql, then the installed program started by
// an operator. It must find its sounds and settings there and register with the prepared
// account.
#include "tests/e2e/desktop.h"
#include "tests/e2e/e2esupport.h"
#include "tests/e2e/screenpoints.h"
#include "tests/e2e/tarselapp.h"

#include "app/constants.h"
#include "store/veldata.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

using namespace E2e;

namespace {
// Runs a command to its end; its output, and the exit status in `status`.
QString runToEnd(
    const QString &program, const QStringList &arguments, int *status, const QString &input = QString())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        *status = -1;
        return program + QStringLiteral(" did not start");
    }
    if (!input.isNull()) {
        process.write(input.toUtf8());
        process.closeWriteChannel();
    }
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(5000);
        *status = -1;
        return program + QStringLiteral(" ran too long");
    }
    *status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAll());
}

QStringList wavFiles(const QString &dir)
{
    return QDir(dir).entryList({ QStringLiteral("*.wav") }, QDir::Files, QDir::Name);
}
} // namespace

class tst_E2eInstall : public QObject
{
    Q_OBJECT

private slots:
    void installedProgramRunsWithExampleSettings();
};

void tst_E2eInstall::installedProgramRunsWithExampleSettings()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString prefix = root.filePath(QStringLiteral("orvane-tarsel"));
    int status = -1;
    const QString installLog = runToEnd(QStringLiteral(TARSEL_CMAKE),
        { QStringLiteral("--install"), QStringLiteral(TARSEL_BUILD_DIR), QStringLiteral("--prefix"), prefix },
        &status);
    QVERIFY2(status == 0, qPrintable(installLog));

    // The layout: program, all sounds, icon, menu entry naming this prefix.
    QVERIFY(QFileInfo(prefix + QStringLiteral("/tarsel")).isExecutable());
    const QStringList sounds = wavFiles(QStringLiteral(TARSEL_SOURCE_DIR "/share/sounds"));
    QVERIFY(!sounds.isEmpty());
    QCOMPARE(wavFiles(prefix + QStringLiteral("/share/sounds")), sounds);
    for (const QString &sound : sounds)
        QCOMPARE(QFileInfo(prefix + QStringLiteral("/share/sounds/") + sound).size(),
            QFileInfo(QStringLiteral(TARSEL_SOURCE_DIR "/share/sounds/") + sound).size());
    const QString desktopFile = prefix + QStringLiteral("/share/applications/orvane-tarsel.desktop");
    QSettings entry(desktopFile, QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    QCOMPARE(entry.value(QStringLiteral("Type")).toString(), QStringLiteral("Application"));
    // The entry is also the desktop's handler of phone links: it takes the link as its argument.
    const QString validation
        = runToEnd(QStringLiteral("desktop-file-validate"), { desktopFile }, &status).trimmed();
    QVERIFY2(status == 0 && validation.isEmpty(), qPrintable(validation));
    QFile entryText(desktopFile);
    QVERIFY(entryText.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(entryText.readAll()).split(QLatin1Char('\n'));
    QVERIFY(lines.contains(QStringLiteral("Exec=") + prefix + QStringLiteral("/tarsel %u")));
    const QStringList mimeLines = lines.filter(QRegularExpression(QStringLiteral("^MimeType=")));
    QCOMPARE(mimeLines.size(), 1);
    const QStringList types = mimeLines.first().mid(9).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const char *scheme : { "tel", "sip", "callto" })
        QVERIFY2(types.contains(QStringLiteral("x-scheme-handler/") + QLatin1String(scheme)),
            qPrintable(mimeLines.first()));
    QCOMPARE(entry.value(QStringLiteral("Name")).toString(), APP_TITLE);
    QVERIFY(QImage(entry.value(QStringLiteral("Icon")).toString()).width() > 0);
    // Nothing of a run yet: the data directory is the program's to make.
    QVERIFY(!QFileInfo::exists(prefix + DATA_DIR));

    // The administrator's preparation, as the README gives it, with the example file; then the
    // example's server name is pointed at the local registrar (nothing leaves this machine).
    SippPeer registrar(SippScenario::registrar(), 120);
    QVERIFY(QDir().mkpath(prefix + DATA_DIR));
    QFile example(QStringLiteral(TARSEL_SOURCE_DIR "/docs/example-settings.sql"));
    QVERIFY(example.open(QIODevice::ReadOnly));
    const QString database = prefix + DB_FILE;
    const QString loaded = runToEnd(QStringLiteral("sqlite3"), { QStringLiteral("-bail"), database }, &status,
        QString::fromUtf8(example.readAll()));
    QVERIFY2(status == 0 && loaded.trimmed().isEmpty(), qPrintable(loaded));
    const QString exampleUser = runToEnd(QStringLiteral("sqlite3"),
        { database, QStringLiteral("SELECT Value FROM settings WHERE Category=1 AND Key='userId'") }, &status)
                                    .trimmed();
    const QString examplePassword = runToEnd(QStringLiteral("sqlite3"),
        { database, QStringLiteral("SELECT Value FROM settings WHERE Category=1 AND Key='password'") },
        &status)
                                        .trimmed();
    QVERIFY(!exampleUser.isEmpty() && !examplePassword.isEmpty());
    const QString repoint = runToEnd(QStringLiteral("sqlite3"),
        { database,
            QStringLiteral("UPDATE settings SET Value='127.0.0.1' WHERE Category=1 AND Key='address';"
                           "UPDATE settings SET Value='%1' WHERE Category=1 AND Key='port';")
                .arg(registrar.port()) },
        &status);
    QVERIFY2(status == 0, qPrintable(repoint));
    registrar.set(QStringLiteral("PASSWORD"), examplePassword);
    QVERIFY(registrar.start());

    E2eDesktop desktop;
    QVERIFY2(desktop.start(), qPrintable(desktop.error()));
    TarselApp app(desktop, prefix);
    QVERIFY(app.start());
    const qulonglong bar = desktop.waitForWindow(exactTitle(APP_TITLE), 30000, Bar::SIZE);
    QVERIFY2(bar, qPrintable(app.output()));
    // A prepared account: no setting window, and the registrar accepts the example's user
    // with the example's password.
    QVERIFY2(waitForLamp(desktop, bar, true, QStringLiteral("install-1-registered"), 15000),
        qPrintable(registrar.report()));
    QVERIFY(desktop.findWindows(exactTitle(TITLE_SETTING)).isEmpty());
    QVERIFY2(registrar.received(QStringLiteral("REGISTER"))
                 .last()
                 .header(QStringLiteral("From"))
                 .contains(QStringLiteral("sip:") + exampleUser + QLatin1Char('@')),
        qPrintable(registrar.report()));
    // The log is below the installed directory, and the key tones are found: a digit typed
    // sounds on the speaker (the null sink's monitor), where nothing sounded before.
    QVERIFY(QFileInfo(prefix + LOG_FILE_BASE).isFile());
    QTest::qWait(1500); // the registration tones are over
    QVERIFY(desktop.soundPeak(desktop.record(800, [] {})) < 100);
    const int peak
        = desktop.soundPeak(desktop.record(2000, [&] { typeOnBar(desktop, bar, QStringLiteral("5")); }));
    desktop.screenshot(QStringLiteral("install-2-digit-typed"));
    QVERIFY2(peak > 1000, qPrintable(QString::number(peak) + app.log()));
}

QTEST_GUILESS_MAIN(tst_E2eInstall)
#include "tst_e2e_install.moc"
