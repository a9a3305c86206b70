#pragma once

#include <QList>
#include <QUdpSocket>

// A UDP socket on 127.0.0.1 that stands in for a remote party's RTP port: point the remote
// SDP's audio port at port() and it collects what the program under test sends there.
// Packets are read on the owning thread while events are processed (QTRY_*).
class RtpSink : public QObject
{
public:
    RtpSink();

    int port() const { return m_socket.localPort(); }
    int packetCount() const { return m_packets; }
    // RTP packets of any other payload type than the telephone events: the audio.
    int audioPacketCount() const { return m_audioPackets; }
    // RFC 4733 telephone events received with the given payload type, one entry per distinct
    // event (the repeated and end packets of one event count once), as characters
    // "0"-"9", "*", "#", "A"-"D".
    QString telephoneEvents() const { return m_events; }
    // Events whose end packet (E bit) has arrived. A phone sends the next digit only after the
    // previous one has ended.
    int endedEvents() const { return m_ended; }
    void setEventPayloadType(int type) { m_eventType = type; }
    // Sends every packet back to where it came from, so that the program under test receives
    // media too (a call without incoming RTP is ended by the SIP library after 30 s). Packets
    // are echoed only while the owning thread processes events.
    void setEcho(bool echo) { m_echo = echo; }

private:
    void read();

    QUdpSocket m_socket;
    int m_packets = 0;
    int m_audioPackets = 0;
    int m_eventType = 101;
    bool m_echo = false;
    QString m_events;
    quint32 m_lastEventTimestamp = 0;
    bool m_haveEvent = false;
    int m_ended = 0;
    quint32 m_lastEndedTimestamp = 0;
};
