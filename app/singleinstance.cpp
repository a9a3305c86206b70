#include "singleinstance.h"

#include "constants.h"
#include "velclient.h"
#include "velserver.h"

#include <QApplication>
#include <QDir>
#include <QSharedMemory>
#include <QWidget>

#include <unistd.h>

namespace {
QString perUser(const QString &name)
{
    return name + QLatin1Char('-') + QString::number(::getuid());
}

// The marker is a System V segment, which outlives a process killed without clean-up. An
// attach and detach by the only process left destroys such a stale segment and leaves one
// that a live instance holds alone, so only a live instance makes this start a second one.
bool takeMarker(QSharedMemory &marker)
{
    if (marker.create(1, QSharedMemory::ReadWrite))
        return true;
    if (marker.error() != QSharedMemory::AlreadyExists)
        return false;
    if (marker.attach(QSharedMemory::ReadWrite))
        marker.detach();
    return marker.create(1, QSharedMemory::ReadWrite);
}
} // namespace

QString SingleInstance::markerKey()
{
    return perUser(SINGLE_INSTANCE_KEY);
}

QString SingleInstance::channelName()
{
    return perUser(ACTIVATION_SERVER_NAME);
}

int SingleInstance::run(int &argc, char **argv, const std::function<QWidget *()> &makeWindow)
{
    auto *marker = new QSharedMemory(markerKey());
    if (!takeMarker(*marker)) {
        auto *client = new VelClient;
        client->connect_to_server(channelName());
        delete client;
        delete marker;
        return 0;
    }

    // The caller's web page shares OpenGL contexts with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    auto *app = new QApplication(argc, argv);
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    QWidget *window = makeWindow();
    window->show();
    auto *server = new VelServer(channelName());
    server->set_window(window);

    const int result = app->exec();
    delete server;
    delete window;
    delete app;
    delete marker;
    return result;
}
