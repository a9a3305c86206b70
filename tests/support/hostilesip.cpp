#include "tests/support/hostilesip.h"

#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QThread>
#include <QUdpSocket>

namespace {
const QByteArray RECORDED_PHONE_PORT = "59873";
const QByteArray RECORDED_SENDER_PORT = "43455";
const QByteArray CRLF = "\r\n";
} // namespace

QByteArray HostileSip::datagram(const QString &name, int phonePort, int senderPort)
{
    QFile file(QStringLiteral(TARSEL_HOSTILE_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll()
        .replace(RECORDED_PHONE_PORT, QByteArray::number(phonePort))
        .replace(RECORDED_SENDER_PORT, QByteArray::number(senderPort));
}

bool HostileSip::sendCrashingPair(int phonePort)
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress(QHostAddress::LocalHost), 0))
        return false;
    const int own = socket.localPort();
    const QByteArray first = datagram(QStringLiteral("binary-header-line.sip"), phonePort, own);
    const QByteArray second = datagram(QStringLiteral("clean-invite.sip"), phonePort, own);
    if (first.isEmpty() || second.isEmpty())
        return false;
    if (socket.writeDatagram(first, QHostAddress::LocalHost, quint16(phonePort)) != first.size())
        return false;
    QThread::msleep(5);
    return socket.writeDatagram(second, QHostAddress::LocalHost, quint16(phonePort)) == second.size();
}

QByteArray HostileSip::mutatedInvite(QRandomGenerator &random, int phonePort, int senderPort)
{
    QByteArray message = datagram(QStringLiteral("clean-invite.sip"), phonePort, senderPort);
    const QByteArray tag = QByteArray::number(random.generate(), 16);
    message.replace("hz7-72c0e94d", "m" + tag).replace("z9hG4bKhz7efab2a", "z9hG4bKm" + tag);
    if (message.isEmpty())
        return message;

    QList<QByteArray> lines = message.split('\n');
    const int line = 1 + int(random.bounded(quint32(lines.size() - 1)));
    switch (random.bounded(6)) {
    case 0: // a few bytes flipped anywhere
        for (int i = 0, n = 1 + int(random.bounded(8)); i < n; ++i)
            message[int(random.bounded(quint32(message.size())))] = char(random.bounded(256));
        return message;
    case 1: { // a run of random bytes inserted
        QByteArray run(1 + int(random.bounded(64)), '\0');
        for (char &c : run)
            c = char(random.bounded(256));
        return message.insert(int(random.bounded(quint32(message.size()))), run);
    }
    case 2: // a line doubled
        lines.insert(line, lines.at(line));
        break;
    case 3: // a line dropped
        lines.removeAt(line);
        break;
    case 4: { // a header line of random bytes without a colon
        QByteArray junk(1 + int(random.bounded(12)), '\0');
        for (char &c : junk)
            c = char(0x80 + random.bounded(0x80));
        lines[line] = junk + '\r';
        break;
    }
    default: // cut short
        return message.left(int(random.bounded(quint32(message.size()))));
    }
    return lines.join('\n');
}
