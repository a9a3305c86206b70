// A fresh application directory with its store for each outlink window test, and a catcher for
// what the program would open in the system browser.
#pragma once

#include "app/appdir.h"
#include "store/veldata.h"

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QUrl>

class OutlinkStore
{
public:
    OutlinkStore()
    {
        AppDir::setPathForTesting(m_dir.path());
        AppDir::makeDataDirectories();
        m_store = new VelData;
    }
    ~OutlinkStore()
    {
        delete m_store;
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
        AppDir::setPathForTesting(QString());
    }
    OutlinkStore(const OutlinkStore &) = delete;
    OutlinkStore &operator=(const OutlinkStore &) = delete;

    VelData *store() const { return m_store; }

private:
    QTemporaryDir m_dir;
    VelData *m_store = nullptr;
};

// Takes the place of the system browser for http and https while it lives.
class BrowserCatcher : public QObject
{
    Q_OBJECT

public:
    BrowserCatcher()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    }
    ~BrowserCatcher() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }

    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }
};
