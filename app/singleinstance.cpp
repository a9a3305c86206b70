#include "app/singleinstance.h"

#include "app/activationmessage.h"
#include "app/constants.h"
#include "app/dialrequest.h"
#include "app/velclient.h"
#include "app/velserver.h"

#include <QApplication>
#include <QDir>
#include <QSharedMemory>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {
const char DIAL_SLOT[] = "slot_dial_link";
const char DIAL_SLOT_SIGNATURE[] = "slot_dial_link(QString)";

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

// Qt aborts with a long message when no display can be opened; a first start says it in one
// line instead.
bool displayAvailable()
{
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    const char *x11 = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

DialRequest::Arguments read_arguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    DialRequest::Arguments request = DialRequest::from_arguments(arguments);
    for (const QString &note : qAsConst(request.notes))
        std::fprintf(stderr, "tarsel: %s\n", qPrintable(note));
    return request;
}

void hand_to_window(QWidget *window, const QString &link, Qt::ConnectionType type)
{
    if (!QMetaObject::invokeMethod(window, DIAL_SLOT, type, Q_ARG(QString, link)))
        std::fprintf(
            stderr, "tarsel: this window dials nothing: %s\n", qPrintable(DialRequest::for_log(link)));
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

int SingleInstance::run(int &argc, char **argv, const std::function<QWidget *()> &makeWindow, bool restarted)
{
    DialRequest::Arguments request = read_arguments(argc, argv);
    if (restarted && !request.link.isEmpty()) {
        std::fprintf(stderr, "tarsel: started again after a crash; %s is not dialled again\n",
            qPrintable(DialRequest::for_log(request.link)));
        request.link.clear();
    }
    // The single-instance step comes first: a later start (from a terminal or a URL handler,
    // perhaps without a display) only needs the channel.
    auto *marker = new QSharedMemory(markerKey());
    if (!takeMarker(*marker)) {
        auto *client = new VelClient;
        client->connect_to_server(
            channelName(), request.link.isEmpty() ? QByteArray() : ActivationMessage::dial(request.link));
        delete client;
        delete marker;
        return 0;
    }
    if (!displayAvailable()) {
        delete marker;
        std::fprintf(stderr,
            "tarsel: no display found (DISPLAY is not set); to try it without a desktop: xvfb-run -a %s\n",
            argv[0]);
        return 1;
    }

    // Nothing here draws with OpenGL: without these the X11 back end picks GL-capable visuals
    // and loads the GL driver (some 50 MB resident), and the web engine of the caller's page
    // (a plugin loaded later, see callerpage.h) composes in software just as well.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    auto *app = new QApplication(argc, argv);
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    QWidget *window = makeWindow();
    window->show();
    auto *server = new VelServer(channelName());
    server->set_window(window);
    if (window->metaObject()->indexOfSlot(DIAL_SLOT_SIGNATURE) >= 0)
        QObject::connect(server, &VelServer::signal_dial_link, window,
            [window](const QString &link) { hand_to_window(window, link, Qt::DirectConnection); });
    if (!request.link.isEmpty())
        hand_to_window(window, request.link, Qt::QueuedConnection);

    const int result = app->exec();
    delete server;
    delete window;
    delete app;
    delete marker;
    return result;
}
