// storeprobe APPDIR save CATEGORY KEY VALUE  -> prints "saved" or "not saved"
// storeprobe APPDIR get CATEGORY KEY         -> prints the value
#include "app/appdir.h"
#include "store/veldata.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return 2;
    AppDir::setPathForTesting(args[1]);
    VelData store;
    const int category = args[3].toInt();
    QMap<QString, QString> settings;
    QTextStream out(stdout);
    if (args[2] == QStringLiteral("save") && args.size() == 6) {
        settings.insert(args[4], args[5]);
        bool ok = false;
        switch (category) {
        case CATEGORY_ACCOUNT:
            ok = store.save_account_settings(settings);
            break;
        case CATEGORY_OUTLINK:
            ok = store.save_outlink_settings(settings);
            break;
        case CATEGORY_AUDIO:
            ok = store.save_audio_settings(settings);
            break;
        default:
            ok = store.save_general_settings(settings);
            break;
        }
        out << (ok ? "saved" : "not saved") << '\n';
        return 0;
    }
    if (args[2] == QStringLiteral("get")) {
        out << store.get_account_settings().value(args[4]) << '\n';
        return 0;
    }
    return 2;
}
