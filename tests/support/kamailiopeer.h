#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A free TCP port on 127.0.0.1 (bound once to port 0 and released); see find_free_udp_port.
int find_free_tcp_port();

// Kamailio on 127.0.0.1 as the phone's server: a registrar with digest authentication (every
// user's password is the one given) and a record-routing proxy, listening on UDP, TCP and TLS
// on free ports, configured from kamailio.cfg.in next to this file. Registered users are
// reached through their connection; any other number goes to the gateway (a sipp or linphonec
// peer over UDP) when one is set. GRUUs are not handed out, so in-dialog requests follow the
// contacts. The TLS certificate is made for the test by its own CA, in a temporary directory,
// for `certificateHost` (an IP address or a DNS name).
//
// Typical use:
//     KamailioPeer server(PhoneRig::PASSWORD);
//     QVERIFY2(server.start(), qPrintable(server.report()));
//     ... register the phone at 127.0.0.1:server.tlsPort() with tlsCaFile = server.caFile() ...
class KamailioPeer
{
public:
    explicit KamailioPeer(
        const QString &password, const QString &certificateHost = QStringLiteral("127.0.0.1"));
    ~KamailioPeer();

    KamailioPeer(const KamailioPeer &) = delete;
    KamailioPeer &operator=(const KamailioPeer &) = delete;

    // Where numbers that are not registered go: sipp at 127.0.0.1:port over UDP.
    void setGateway(int port) { m_gatewayPort = port; }
    // Makes the server's certificate one that expired a day ago (before the first start).
    void setCertificateExpired(bool expired) { m_certificateExpired = expired; }
    int udpPort() const { return m_udpPort; }
    int tcpPort() const { return m_tcpPort; }
    int tlsPort() const { return m_tlsPort; }
    // The CA that signed the server's certificate, and another one that signed nothing.
    QString caFile() const;
    QString otherCaFile() const;
    QString configFile() const;

    // Starts Kamailio (the certificates are made on the first start) and waits until its TLS
    // port accepts connections; false with the reason in report() otherwise.
    bool start();
    // Stops it (SIGTERM, then SIGKILL) and waits; the ports stay the same for a restart.
    void stop();
    bool isRunning() const;
    // Kamailio's own output and the last error of the harness.
    QString report() const;

private:
    bool makeCertificates();
    bool runOpenssl(const QStringList &arguments);
    QString config() const;

    QString m_password;
    QString m_certificateHost;
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_udpPort;
    int m_tcpPort;
    int m_tlsPort;
    int m_gatewayPort = 0;
    int m_runs = 0;
    bool m_certificatesMade = false;
    bool m_certificateExpired = false;
    QString m_error;
};
