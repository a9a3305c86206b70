#include "ui/outlink/callerpage.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QPluginLoader>

namespace {
const QString PLUGIN_FILE = QStringLiteral(TARSEL_CALLER_PAGE_PLUGIN);
} // namespace

CallerPageFactory *CallerPage::factory()
{
    static CallerPageFactory *loaded = nullptr;
    static bool tried = false;
    if (tried)
        return loaded;
    tried = true;
    // Beside the executable as installed; programs run from the build tree (tests, benchmarks)
    // find it at the top of the build directory.
    const QStringList places { QCoreApplication::applicationDirPath(), QStringLiteral(TARSEL_BUILD_ROOT) };
    for (const QString &place : places) {
        const QString path = QDir(place).filePath(PLUGIN_FILE);
        if (!QFileInfo::exists(path))
            continue;
        QPluginLoader loader(path);
        loaded = qobject_cast<CallerPageFactory *>(loader.instance());
        if (loaded)
            return loaded;
        qWarning() << "caller page plugin not loaded:" << path << loader.errorString();
    }
    qWarning() << "caller page plugin not found:" << PLUGIN_FILE;
    return nullptr;
}
