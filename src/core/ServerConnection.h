#pragma once
// The main connection to the call server: connect, handshake, loss and retry,
// the periodic refresh, the supervision of a silent server, and the receive
// path up to the dispatcher.
#include "common/Clock.h"
#include "common/ServerIniLink.h"
#include "common/UserInterface.h"
#include "protocol/StreamReader.h"
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace quvo {

struct ProgramState;
class SettingsStore;
class ClientIdentity;

class ServerConnection : public QObject, public ServerIniLink {
    Q_OBJECT
public:
    ServerConnection(ProgramState& state, SettingsStore& settings, ClientIdentity& identity,
                     UserInterface& ui, Clock& clock = Clock::system(), QObject* parent = nullptr);
    ~ServerConnection() override;

    // Registration data from the command line.
    void setAutoRegister(bool on, const QString& callListParam);
    // Starts the update check (RunUpdateCheck); its end comes back through
    // updateCheckFinished, and the handshake waits for it.
    void setUpdateCheck(std::function<void()> check);
    // restart: the new program runs and this instance ends.
    void updateCheckFinished(bool restart);
    // Units for the dispatcher, in arrival order.
    void setTextHandler(std::function<void(protocol::Unit&&)> handler);
    // Test seams: the random part of the retry delay (0..14999) and the tick of Timer3.
    void setRandomSource(std::function<int()> source);
    void setCountdownTickMs(int ms);
    // Length of one second of the supervision and of the loss notice.
    void setSupervisionSecondMs(int ms);
    // Nobody can answer the question after a failed first attempt (headless):
    // it is retried on the countdown like a lost connection.
    void setRetryUnanswered(bool on) { m_retryUnanswered = on; }

    void ConnectToServer(bool reconnect);
    void applyRefreshRule();
    // The server accepted this client (version answer, or a refresh
    // reconnect): refresh and supervision rules, and the loss notice ends.
    void connectionEstablished();
    // A rejected server version: nothing more from this connection is
    // handled, from now on; closeForGood then closes it.
    void refuseServer();
    // A rejected server version: close and stop both timers, no retry.
    void closeForGood();
    // Close an active connection; its loss handling runs before this returns.
    void closeSocket();
    void stopTimers();                 // ReconnectTimer and Timer3
    // As if this program had never been connected: a failed connect asks
    // the person again instead of retrying on its own.
    void forgetConnectedOnce();
    // Another server: the old one's versions go, the next connection checks
    // for updates again, and the old connection closes.
    void forgetServer();
    // Power handling: suspend closes; resume reopens as a fresh connect.
    void suspend();
    void reopenAfterResume();

    // ServerIniLink
    bool isConnectionUp() const override;
    void sendFrame(const QByteArray& wireBytes) override;
    void sendText(const QString& frame);   // converted to wire bytes

    bool isActive() const;              // connected
    bool isOpening() const;             // name lookup or connect under way
    QString hostName() const { return m_host; }
    QString address() const { return m_address; }
    quint16 port() const { return m_port; }
    int countdownMs() const { return m_countdown; }
    bool countdownRunning() const { return m_timer3->isActive(); }
    bool refreshRunning() const { return m_reconnectTimer->isActive(); }
    int refreshIntervalMs() const { return m_reconnectTimer->interval(); }
    int superviseSeconds() const { return m_superviseSeconds; }
    bool supervising() const { return m_idleTimer->isActive() || m_probeTimer->isActive(); }
    QTcpSocket& socket() { return m_socket; }

signals:
    void quitRequested();               // the update check started a new program
    void connectedChanged(bool up);
    // The probe of a silent server went unanswered; the loss handling follows.
    void serverSilent();
    void statusChanged(const QString& text);
    void indicatorChanged(Indicator colour);
    // For whoever glances at the program, without stopping it.
    void notice(const QString& text, bool warning);

private:
    void onSocketConnected();
    void ClientSocket1Connect();
    void ClientSocket1Disconnect();
    void ClientSocket1Error(QAbstractSocket::SocketError error);
    void onSocketDisconnected();
    void ClientSocket1Read();
    void Timer3Timer();
    void ReconnectTimerTimer();
    void armCountdown();
    void handleLoss(bool retry);
    void readSuperviseSetting();
    void startSupervision();
    void stopSupervision();
    void noteArrival();
    void idleTimerTimer();
    void probeTimerTimer();
    void startLossWatch();
    void setKeepAlive();
    void drainQueue();
    void scheduleDrain();
    void releaseHeldError();
    void sendHandshake();
    void openSocket();
    void setStatus(const QString& text);
    QString clientName();

    ProgramState& m_state;
    SettingsStore& m_settings;
    ClientIdentity& m_identity;
    UserInterface& m_ui;
    QTcpSocket m_socket;
    std::unique_ptr<Timer> m_timer3;
    std::unique_ptr<Timer> m_reconnectTimer;
    int m_countdown = 0;
    bool m_reconnectMark = false;
    bool m_closingByUs = false;
    bool m_autoRegister = false;
    QString m_callListParam;
    QString m_host;
    QString m_address;
    quint16 m_port = 0;
    protocol::StreamReader m_reader;
    std::deque<protocol::Unit> m_queue;
    // An error text that ended a read may go on in the next read; it waits
    // this long for its rest.
    std::unique_ptr<Timer> m_errorTimer;
    bool m_refused = false;             // this connection's server version was refused
    bool m_drainScheduled = false;
    bool m_overflowTold = false;
    std::function<void()> m_updateCheck;
    bool m_handshakeOwed = false;      // this connection has not sent its handshake yet
    std::function<void(protocol::Unit&&)> m_textHandler;
    std::function<int()> m_random;
    int m_secondMs = 1000;
    int m_superviseSeconds = 30;        // 0: off
    std::unique_ptr<Timer> m_idleTimer;     // nothing has arrived for that long
    std::unique_ptr<Timer> m_probeTimer;    // the probe's answer is due
    std::unique_ptr<Timer> m_lossTimer;     // not connected for over 60 s
    bool m_lossNoticed = false;
    bool m_established = false;         // the server accepted this client
    bool m_retryUnanswered = false;
    bool m_questionAsked = false;
    bool m_mainSocketSet = false;       // connected at least once
    bool m_connectedNow = false;        // loss handling still owed
    bool m_connectPending = false;      // connected, its handling queued
    bool m_attemptConnected = false;    // this attempt got a connection
};

} // namespace quvo
