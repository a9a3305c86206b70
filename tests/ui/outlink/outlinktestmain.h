// Entry point of the outlink window tests, which run the real web engine headless and as root.
//
// What the web engine (Qt WebEngine 5.15, Chromium) needs here:
// - QTWEBENGINE_DISABLE_SANDBOX=1 when running as root: Chromium refuses its sandbox for root.
// - QT_QPA_PLATFORM=offscreen needs the software scene graph (QT_QUICK_BACKEND=software),
//   otherwise the web engine aborts for want of OpenGL; under Xvfb it runs as it is.
// - Qt::AA_ShareOpenGLContexts set before the application object is built.
// - Every view and page deleted before its profile and before the application object.
// The CTest entries set the variables; the settings are repeated here so that the executable
// also runs by hand.
#pragma once

#include <QApplication>
#include <QtTest>

#include <unistd.h>

inline void prepare_web_engine_for_tests()
{
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Without any display (the benchmark run by hand or by scripts/bench-all) the web engine
    // runs offscreen rather than aborting for want of an X server.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

#define OUTLINK_TEST_MAIN(TestClass)                                                                         \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        prepare_web_engine_for_tests();                                                                      \
        int result;                                                                                          \
        {                                                                                                    \
            QApplication app(argc, argv);                                                                    \
            TestClass test;                                                                                  \
            result = QTest::qExec(&test, argc, argv);                                                        \
        }                                                                                                    \
        return result;                                                                                       \
    }
