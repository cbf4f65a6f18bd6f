#pragma once
// Self-update: at the first connect, compare the own version with the wanted
// one and fetch, store and start the wanted program file.
#include "core/update/ProgramStarter.h"
#include "core/update/UpdateConnection.h"
#include "core/update/UpdateFile.h"
#include "protocol/UpdateReceiver.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

namespace quvo {

struct ProgramState;
class SettingsStore;
class ClientIdentity;
class UserInterface;
class ServerConnection;

class UpdateClient : public QObject {
    Q_OBJECT
public:
    enum UpdateStateValue { StateWaiting = 0, StateCurrent = 1, StateUpdating = 2 };

    // The main connection as the defaults of the update server see it.
    struct MainEndpoint {
        QString host;
        QString address;
        quint16 port = 0;
    };

    UpdateClient(ProgramState& state, SettingsStore& settings, ClientIdentity& identity, UserInterface& ui,
                 ServerConnection& mainConnection, QObject* parent = nullptr);
    ~UpdateClient() override;

    // Starts the check and returns; it runs on the event loop, never in a
    // nested wait, so nothing that is open on the screen can hold it up. A
    // check asked for while one runs follows it. checkFinished reports the end
    // once no check is left.
    void RunUpdateCheck();
    bool checking() const { return m_phase != Phase::Idle; }
    // The program is quitting: everything stops, nothing is reported.
    void cancel();

    // The three waits: for the connection, for the first answer, for the file.
    void setWaits(int connectMs, int answerMs, int downloadMs);
    // How long a started program has to stay running before this one ends.
    void setStartWatch(int ms) { m_starter.setWatch(ms); }
    // The balloon about a socket error points here (the desktop's centre);
    // only a front end with screens knows it.
    void setScreenCentreSource(std::function<QPoint()> source);
    // Seams for tests.
    void setMainEndpointSource(std::function<MainEndpoint()> source);
    void setDownloadLimit(qint64 bytes);

    int UpdateState() const { return m_updateState; }
    bool UpdateRestarting() const { return m_restarting; }
    // Process id of the program file that runs in this one's place, once it
    // has stayed up; 0 otherwise.
    qint64 startedProgramPid() const { return m_restarting ? m_starter.pid() : 0; }
    int programStartsTried() const { return m_starter.attempts(); }
    bool UpdateSaveFailed() const { return m_saveFailed; }
    bool UpdateWaitExpired() const { return m_waitExpired; }
    QTcpSocket& updateSocket() { return m_connection.socket(); }

signals:
    // true: the new program is running and this instance must end.
    void checkFinished(bool restart);
    // Bytes of the new version received so far: a slow download must look alive.
    void downloadProgress(qint64 bytes);

private:
    enum class Phase { Idle, Connecting, Answer, Download, Watching, Ending };

    void UpdateSocketConnect();
    void UpdateSocketRead(const QByteArray& chunk);
    void UpdateSocketError(QAbstractSocket::SocketError error);
    void UpdateSocketDisconnect();
    void UpdateTimerTimer();

    void beginCheck();
    void finish(bool restart);
    void endCheck(bool restart);
    void stopReading();
    void requestNewClient();
    void tell(const QString& text);
    void handleEvents(std::vector<protocol::UpdateReceiver::Event>& events);
    void handleMessage(const protocol::Unit& message);
    void beginFile();
    void writeFile(const QByteArray& bytes);
    void finishFile();
    void saveFailed();
    void giveUp(const QString& message);
    void reportProgress(bool force);
    bool startProgram(const QString& path);
    void programStayedUp();
    void programEnded();

    ProgramState& m_state;
    SettingsStore& m_settings;
    ClientIdentity& m_identity;
    UserInterface& m_ui;
    ServerConnection& m_main;

    UpdateConnection m_connection;
    ProgramStarter m_starter;
    UpdateFile m_file;
    Phase m_phase = Phase::Idle;
    bool m_again = false;           // a check was asked for while this one ran
    quint64 m_generation = 0;       // tells a stale queued report from the current one

    int m_connectMs = 5000;
    int m_answerMs = 5000;
    int m_downloadMs = 60000;
    std::function<QPoint()> m_screenCentre;
    std::function<MainEndpoint()> m_mainEndpoint;

    int m_updateState = StateWaiting;
    bool m_restarting = false;
    bool m_saveFailed = false;
    bool m_waitExpired = false;
    bool m_requested = false;       // GETNEWCLIENT went out in this check
    int m_wanted = 0;
    bool m_startedDownload = false; // the watched program is the one just fetched

    protocol::UpdateReceiver m_receiver;
    // An error text that ended a read may go on in the next read.
    QTimer m_errorTimer;
    bool m_fileFailed = false;
    qint64 m_lastProgress = 0;
    QElapsedTimer m_progressClock;
};

} // namespace quvo
