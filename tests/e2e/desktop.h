#pragma once

#include <QImage>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <vector>

// A private desktop for one end-to-end test: an Xvfb display of its own (picked by Xvfb itself,
// so parallel tests never meet), a compositor (the bar's translucent corners look as on a real
// desktop), a tray host (the bar hides into the tray), and a PulseAudio daemon with a null sink
// as the sound device. Everything is stopped by the destructor.
//
// The program is driven from outside, as a person would: xdotool moves the pointer, clicks and
// types (without a window manager keys go to the window under the pointer, so every key goes
// after a pointer move over the target), windows are found by title, and screenshots of the
// whole screen are kept as artifacts.
class E2eDesktop
{
public:
    static constexpr int WIDTH = 1280;
    static constexpr int HEIGHT = 800;

    E2eDesktop();
    ~E2eDesktop();
    E2eDesktop(const E2eDesktop &) = delete;
    E2eDesktop &operator=(const E2eDesktop &) = delete;

    // False (and error()) when one of the helpers did not come up in time.
    bool start();
    QString error() const { return m_error; }

    // The environment for a program on this desktop: DISPLAY, the private PulseAudio, and HOME,
    // TMPDIR and XDG_RUNTIME_DIR inside this desktop's directory (the single-instance names live
    // in the temporary directory, so instances of other tests never see each other).
    QProcessEnvironment environment() const;
    QString display() const { return m_display; }
    QString directory() const { return m_dir.path(); }

    // Visible top-level windows whose title matches `titleRegex` (xdotool's --name search).
    QList<qulonglong> findWindows(const QString &titleRegex) const;
    // Waits up to `msecs` for a visible window with that title (and that size, when given).
    qulonglong waitForWindow(const QString &titleRegex, int msecs, const QSize &size = QSize()) const;
    // Waits up to `msecs` until no visible window of that title (and size) is left.
    bool waitForNoWindow(const QString &titleRegex, int msecs, const QSize &size = QSize()) const;
    // Screen position and size of a window; empty when it is gone.
    QRect geometry(qulonglong window) const;

    void click(const QPoint &at, int button = 1) const;
    void moveTo(const QPoint &at) const;
    // Keys in xdotool's names ("Return", "KP_Enter", "shift+numbersign"), to the window under
    // the pointer.
    void key(const QStringList &keys) const;
    void type(const QString &text) const;

    // What the speaker (the null sink) plays for `msecs` while `action` runs: 16-bit mono
    // samples at 8000 Hz, and their largest magnitude.
    QByteArray record(int msecs, const std::function<void()> &action) const;
    static int soundPeak(const QByteArray &samples);

    // The screen as a person sees it, saved as <artifacts>/<name>.png (path printed).
    QImage screenshot(const QString &name) const;
    // Where screenshots go: e2e-artifacts in the build tree.
    static QString artifactsDir();

    // Runs a helper command with this desktop's environment; its standard output, or an empty
    // text when it failed or ran over `msecs`.
    QString run(const QString &program, const QStringList &arguments, int msecs = 10000,
        int *exitCode = nullptr) const;

private:
    bool startHelper(const QString &program, const QStringList &arguments);

    QTemporaryDir m_dir;
    QString m_display;
    QString m_error;
    std::vector<std::unique_ptr<QProcess>> m_helpers;
};
