#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>

// A packet capture on the loopback interface (tshark, Debian package tshark, as root): the UDP
// payloads that match a capture filter, collected while events are processed. What the program
// under test really put on the wire, e.g. whether its RTP payloads are encrypted.
//
// Typical use:
//     LoopbackCapture capture;
//     QVERIFY2(capture.start(QStringLiteral("udp and dst port %1").arg(port)), qPrintable(capture.report()));
//     ... the call ...
//     QTRY_VERIFY(capture.payloads().size() >= 20);
class LoopbackCapture : public QObject
{
public:
    LoopbackCapture();
    ~LoopbackCapture() override;

    // Starts capturing and waits (bounded) until tshark says it captures; false otherwise.
    bool start(const QString &filter);
    void stop();
    QList<QByteArray> payloads() const { return m_payloads; }
    QString report() const;

private:
    void read();

    QProcess m_process;
    QByteArray m_pending;
    QList<QByteArray> m_payloads;
};
