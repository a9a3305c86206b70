// The engine alone in a process of its own, run by the supervisor as the program runs: for the
// tests and benchmarks that crash the SIP library on purpose. Usage: phonehost APPDIR, where
// APPDIR holds a database with the account. It runs until it is ended by a signal.
#include "app/appdir.h"
#include "app/constants.h"
#include "app/supervisor.h"
#include "app/vellogger.h"
#include "phone/velphone.h"
#include "store/veldata.h"

#include <QCoreApplication>
#include <QFile>

int main(int argc, char *argv[])
{
    if (argc < 2)
        return 2;
    const QString appDir = QString::fromLocal8Bit(argv[1]);
    return Supervisor::run(argv, QFile::encodeName(appDir + LOG_FILE_BASE).toStdString(), [&](bool) {
        QCoreApplication app(argc, argv);
        AppDir::setPathForTesting(appDir);
        AppDir::makeDataDirectories();
        qRegisterMetaType<QMap<QString, QString>>("QMap<QString, QString>");
        VelLogger logger;
        VelData store;
        VelPhone phone(nullptr, &store, &logger);
        phone.start();
        return app.exec();
    });
}
