#pragma once

#include <QByteArray>
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QString>
#include <QTemporaryDir>

class MainWindow;
class VelPhone;

// One bar under test: a fresh application directory (also $HOME, so the SIP library writes
// nothing outside it), settings stored before the window reads them, the real window with its
// real engine, and the shipped sounds reachable as ./share/sounds.
class BarFixture
{
public:
    // settings: category number → key/value pairs saved before the window is built.
    explicit BarFixture(const QMap<int, QMap<QString, QString>> &settings = {});
    ~BarFixture();

    MainWindow *window() const { return m_window; }
    VelPhone *phone() const;
    QLabel *label(const char *name) const;
    QPushButton *button(const char *name) const;
    QString number() const { return label("phoneNumberLabel")->text(); }
    QString appDir() const { return m_dir.path(); }
    QString logText() const;

    // An account pointing at a registrar on 127.0.0.1:port.
    static QMap<QString, QString> account(const QString &user, int port);

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QString m_oldCwd;
    MainWindow *m_window = nullptr;
};
