#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// linphonec (Debian package linphone-cli) on 127.0.0.1 as a remote party that answers every
// call by itself, over UDP on a free port, with or without SRTP. It keeps no files outside its
// temporary directory and writes its full log there (log()).
class LinphonecPeer
{
public:
    explicit LinphonecPeer(bool srtp);
    ~LinphonecPeer();

    LinphonecPeer(const LinphonecPeer &) = delete;
    LinphonecPeer &operator=(const LinphonecPeer &) = delete;

    int port() const { return m_port; }
    // Its RTP port; it speaks PCMU only, so that what a phone sends it is easy to recognise.
    int audioPort() const { return m_audioPort; }
    // Starts it and waits (bounded) until its SIP port is bound.
    bool start();
    void stop();
    QString log() const;

private:
    bool m_srtp;
    int m_port;
    int m_audioPort;
    QTemporaryDir m_dir;
    QProcess m_process;
};
