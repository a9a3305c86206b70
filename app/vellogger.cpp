#include "app/vellogger.h"

#include "app/appdir.h"
#include "app/constants.h"
#include "app/logfile.h"

#include <QDebug>
#include <QFile>

#include <ctime>
#include <mutex>

namespace {
// One lock for the whole process: the GUI thread and the engine thread both log, and each
// line's open-append-close must not interleave with another. The standard library's mutex,
// which ThreadSanitizer sees (Qt's own is invisible to it in a non-instrumented Qt).
std::mutex &logMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Every time stamp is local time, and Qt calls glibc's tzset() for each. With TZ unset, tzset()
// frees and duplicates its saved copy of the zone name on every call; two threads logging
// then do that concurrently (serialised only by glibc's internal lock, which ThreadSanitizer
// cannot see). With TZ naming the zone the system uses anyway (/etc/localtime, also when TZ is
// unset), tzset() finds the name unchanged and returns at once. Done once, by the first
// logger, which the program makes before any other thread runs; a TZ that is set is kept.
void pin_time_zone()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (!qEnvironmentVariableIsSet("TZ"))
            qputenv("TZ", ":/etc/localtime");
        ::tzset();
    });
}
} // namespace

VelLogger::VelLogger(QObject *parent)
    : QObject(parent)
{
    pin_time_zone();
    rotate();
}

QString VelLogger::filePath()
{
    return AppDir::file(LOG_FILE_BASE);
}

void VelLogger::rotate()
{
    std::lock_guard<std::mutex> locker(logMutex());
    LogFile::rotate(QFile::encodeName(filePath()).toStdString());
}

void VelLogger::log(const QString &message, int level)
{
    Q_UNUSED(level)
    qDebug().noquote() << message;

    std::lock_guard<std::mutex> locker(logMutex());
    LogFile::append(QFile::encodeName(filePath()).toStdString(), message.toLocal8Bit().toStdString());
}
