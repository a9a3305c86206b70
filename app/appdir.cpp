#include "appdir.h"

#include "constants.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <sys/stat.h>

namespace {
QMutex overrideMutex;
QString overridePath;
} // namespace

QString AppDir::path()
{
    {
        QMutexLocker locker(&overrideMutex);
        if (!overridePath.isEmpty())
            return overridePath;
    }
    return QCoreApplication::applicationDirPath();
}

QString AppDir::file(const QString &suffix)
{
    return path() + suffix;
}

void AppDir::setPathForTesting(const QString &path)
{
    QMutexLocker locker(&overrideMutex);
    overridePath = path;
}

bool AppDir::makeDataDirectories()
{
    const QString data = file(DATA_DIR);
    if (!QFileInfo::exists(data))
        ::mkdir(QFile::encodeName(data).constData(), 0700);
    return QDir().mkpath(file(LOG_DIR));
}
