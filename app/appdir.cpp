#include "app/appdir.h"

#include "app/constants.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>

#include <sys/stat.h>

namespace {
// The engine thread asks for paths too; a standard mutex, which ThreadSanitizer sees.
std::mutex overrideMutex;
QString overridePath;
} // namespace

QString AppDir::path()
{
    {
        std::lock_guard<std::mutex> locker(overrideMutex);
        if (!overridePath.isEmpty())
            return overridePath;
    }
    // Before the application object exists (the supervisor never makes one) the running
    // executable is found the way Qt itself finds it.
    if (!QCoreApplication::instance())
        return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    return QCoreApplication::applicationDirPath();
}

QString AppDir::file(const QString &suffix)
{
    return path() + suffix;
}

void AppDir::setPathForTesting(const QString &path)
{
    std::lock_guard<std::mutex> locker(overrideMutex);
    overridePath = path;
}

bool AppDir::makeDataDirectories()
{
    const QString data = file(DATA_DIR);
    if (!QFileInfo::exists(data))
        ::mkdir(QFile::encodeName(data).constData(), 0700);
    return QDir().mkpath(file(LOG_DIR));
}
