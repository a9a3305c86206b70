#include "appdir.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>

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
