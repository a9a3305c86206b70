#include "tests/support/rtpsink.h"

#include <QNetworkDatagram>

RtpSink::RtpSink()
{
    m_socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    connect(&m_socket, &QUdpSocket::readyRead, this, &RtpSink::read);
}

void RtpSink::read()
{
    static const char EVENT_NAMES[] = "0123456789*#ABCD";
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram();
        const QByteArray data = datagram.data();
        if (m_echo)
            m_socket.writeDatagram(data, datagram.senderAddress(), datagram.senderPort());
        if (data.size() < 12 || (quint8(data[0]) >> 6) != 2)
            continue; // not RTP version 2
        ++m_packets;
        const int payloadType = quint8(data[1]) & 0x7f;
        const int csrcCount = quint8(data[0]) & 0x0f;
        const int offset = 12 + 4 * csrcCount;
        if (payloadType != m_eventType) {
            ++m_audioPackets;
            continue;
        }
        if (data.size() < offset + 4)
            continue;
        // All packets of one event carry the timestamp of its start.
        const quint32 timestamp = (quint32(quint8(data[4])) << 24) | (quint32(quint8(data[5])) << 16)
            | (quint32(quint8(data[6])) << 8) | quint32(quint8(data[7]));
        const bool end = quint8(data[offset + 1]) & 0x80;
        if (end && (m_ended == 0 || timestamp != m_lastEndedTimestamp)) {
            ++m_ended;
            m_lastEndedTimestamp = timestamp;
        }
        if (m_haveEvent && timestamp == m_lastEventTimestamp)
            continue;
        m_haveEvent = true;
        m_lastEventTimestamp = timestamp;
        const int event = quint8(data[offset]);
        m_events += event < 16 ? QChar::fromLatin1(EVENT_NAMES[event]) : QLatin1Char('?');
    }
}
