#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A PulseAudio daemon of this process alone, with exactly one null sink "spk" and the native
// protocol on a socket in a temporary directory. start() points PULSE_SERVER and
// PULSE_RUNTIME_PATH of this process at it, so Qt Multimedia, the SIP library and every child
// started afterwards (parec, pactl) use it, and nothing else plays into it. Start it before
// anything in the process opens an audio device: the clients connect once.
//
// Without module-suspend-on-idle the sink keeps running while nothing plays, so its monitor
// delivers a gap-free recording whose sample positions are real time.
class SoundServer
{
public:
    SoundServer() = default;
    ~SoundServer();

    SoundServer(const SoundServer &) = delete;
    SoundServer &operator=(const SoundServer &) = delete;

    // False (and error() says why) when the daemon does not answer within 10 s.
    bool start();
    void stop();
    QString error() const { return m_error; }
    QString log() const;

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_error;
};
