#include "tests/ui/mainwindow/barfixture.h"

#include "app/appdir.h"
#include "app/constants.h"
#include "app/vellogger.h"
#include "phone/velphone.h"
#include "store/veldata.h"
#include "ui/mainwindow/mainwindow.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>

BarFixture::BarFixture(const QMap<int, QMap<QString, QString>> &settings)
{
    AppDir::setPathForTesting(m_dir.path());
    m_oldHome = qgetenv("HOME");
    QDir().mkpath(m_dir.path() + QStringLiteral("/home"));
    qputenv("HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/home")));
    // The sounds are found relative to the current directory, as after start-up.
    m_oldCwd = QDir::currentPath();
    QDir::setCurrent(QStringLiteral(TARSEL_BUILD_DIR));
    if (!settings.isEmpty()) {
        AppDir::makeDataDirectories();
        VelData store;
        store.save_account_settings(settings.value(CATEGORY_ACCOUNT));
        store.save_outlink_settings(settings.value(CATEGORY_OUTLINK));
        store.save_audio_settings(settings.value(CATEGORY_AUDIO));
        store.save_general_settings(settings.value(CATEGORY_GENERAL));
    }
    m_window = new MainWindow;
}

BarFixture::~BarFixture()
{
    delete m_window;
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    QDir::setCurrent(m_oldCwd);
    qputenv("HOME", m_oldHome);
    AppDir::setPathForTesting(QString());
}

VelPhone *BarFixture::phone() const
{
    return m_window->findChild<VelPhone *>();
}

QLabel *BarFixture::label(const char *name) const
{
    return m_window->findChild<QLabel *>(QLatin1String(name));
}

QPushButton *BarFixture::button(const char *name) const
{
    return m_window->findChild<QPushButton *>(QLatin1String(name));
}

QString BarFixture::logText() const
{
    QFile file(VelLogger::filePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QMap<QString, QString> BarFixture::account(const QString &user, int port)
{
    return { { QStringLiteral("address"), QStringLiteral("127.0.0.1") },
        { QStringLiteral("port"), QString::number(port) }, { QStringLiteral("userId"), user },
        { QStringLiteral("password"), QStringLiteral("s3cret") } };
}
