#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

// A free UDP port on 127.0.0.1 (bound once to port 0 and released). Another process may take
// it before the caller binds it; tests use it at once.
int find_free_udp_port();

// Ends a helper process: SIGTERM, then SIGKILL if it is still there after `msecs`; waits
// (bounded) for its end.
void end_process(QProcess &process, int msecs);

class SippPeer;

// The phone's SIP port as its last REGISTER at this registrar announced it in Contact; 0 when
// it has not registered.
int phonePort(const SippPeer &registrar);

// One SIP message as sipp logged it.
struct SipMessage
{
    bool received = false; // true: sipp received it from the peer under test; false: sipp sent it
    QString text; // start line, headers and body, lines ending in "\n"
    QString loggedAt; // sipp's local time stamp, "yyyy-MM-dd hh:mm:ss.uuuuuu"

    // loggedAt as microseconds since the epoch. Converting local time reads the time zone
    // (tzset), which races with library threads formatting their own log times: only
    // single-threaded moments (benchmarks after the run) should call it.
    qint64 usecsSinceEpoch() const;

    QString startLine() const;
    bool isRequest(const QString &method) const; // e.g. "INVITE"
    bool isResponse(int code) const; // e.g. 486
    QString header(const QString &name) const; // first header of that name, value only; "" when absent
    QString body() const;
};

// A sipp instance on 127.0.0.1 playing one scenario as the remote SIP party (registrar,
// caller, callee or transfer target). The scenario is XML text in sipp's format; "{{KEY}}"
// placeholders are replaced by set() values and by the built-ins {{PORT}} (sipp's SIP port) and
// {{MEDIA_PORT}} (the audio port that sipp announces in its SDP); {{PEER}}, sipp's own user
// name, is "sipp" unless set. sipp runs in server mode
// (it waits for the first message) with one call and a global time-out, and logs every message
// it sends or receives to a file that messages() parses.
//
// Typical use:
//     SippPeer peer(scenarioXml);
//     peer.set("USER", "1001");
//     QVERIFY(peer.start());
//     ... drive the program under test towards 127.0.0.1:peer.port() ...
//     QVERIFY2(peer.waitForFinished(10000), qPrintable(peer.report()));
//
// The destructor kills a sipp that is still running.
class SippPeer
{
public:
    explicit SippPeer(const QString &scenario, int timeoutSeconds = 60);
    ~SippPeer();

    SippPeer(const SippPeer &) = delete;
    SippPeer &operator=(const SippPeer &) = delete;

    void set(const QString &key, const QString &value);
    // The audio port sipp puts into its SDP; by default a free port nobody listens on. A test
    // that wants to see the RTP the phone sends points it at its own socket (RtpSink).
    void setMediaPort(int port);
    // Number of calls (Call-IDs) sipp plays before it ends; 1 by default.
    void setCalls(int calls) { m_calls = calls; }
    // Client mode: sipp starts the scenario by sending to this "host:port" instead of waiting.
    void setRemote(const QString &hostPort) { m_remote = hostPort; }
    // Further sipp options, e.g. {"-l", "1"} for one call at a time.
    void addArguments(const QStringList &arguments) { m_extra << arguments; }
    int port() const { return m_port; }
    int mediaPort() const { return m_mediaPort; }
    QString address() const { return QStringLiteral("127.0.0.1"); }

    bool start();
    // True when sipp ended within the time and every call of the scenario succeeded.
    bool waitForFinished(int msecs);
    bool isRunning() const;
    void kill();

    QVector<SipMessage> messages() const;
    QVector<SipMessage> received(const QString &method) const; // requests received from the peer
    // A readable account of the run for failure messages: exit code, errors and messages.
    QString report() const;

private:
    QString m_scenario;
    int m_timeoutSeconds;
    QMap<QString, QString> m_values;
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port;
    int m_mediaPort;
    int m_calls = 1;
    QString m_remote;
    QStringList m_extra;
};
