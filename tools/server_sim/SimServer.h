#pragma once
// A small call server and update server in one process: enough of both for
// the client's tests and the demo, driven by commands typed on stdin or read
// from a scenario file.
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace quvo::sim {

enum class UpdateMode { Normal, Error, Cut, Silent };
std::optional<UpdateMode> parseUpdateMode(const QString& text);

struct SimOptions {
    QString serverVersion = QStringLiteral("1.10.4");
    QString clinic = QStringLiteral("Vårdcentralen Demo");
    QString programFile;
    int chunkSize = 4096;
    int chunkIntervalMs = 2;
    UpdateMode updateMode = UpdateMode::Normal;
};

class SimServer : public QObject {
    Q_OBJECT
public:
    explicit SimServer(const SimOptions& options, QObject* parent = nullptr);
    ~SimServer() override;

    bool listen(const QHostAddress& host, quint16 port);
    quint16 port() const;
    QString errorString() const;

    // One command line ("call 1 Anna", "confirm 3 Bo", ...); prints its result.
    void execute(const QString& line);

signals:
    void quitRequested();

private:
    struct Resource {
        int id = 0;
        QString name;
        int colour = 0;
        bool active = true;
    };
    struct Call {
        int number = 0;
        int resourceId = 0;
        QString callerName;
        QDateTime time;
        int comingId = 0;
        QDateTime comingTime;
        QString comingName;
    };
    struct Client {
        QString place;
        int colour = 0;
        std::optional<QList<int>> resources; // unset: every active resource
    };
    struct Peer {
        QTcpSocket* socket = nullptr;
        QString address;            // kept: the socket forgets it on disconnect
        std::string inbox;
        QString name;               // last client name seen on this connection
        bool wantsList = false;     // asked for its list: gets every change
        bool sentAllCallables = false;
        QTimer* sendTimer = nullptr;
        QList<QByteArray> pieces;   // program file still to be written
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void onDisconnected(QTcpSocket* socket);
    void cutFrames(Peer& peer);
    void handleFrame(Peer& peer, const std::string& tag, const QStringList& fields, const QByteArray& raw);
    void handleGetNewClient(Peer& peer);
    void sendNextPiece(QTcpSocket* socket);

    void send(Peer& peer, const QString& text);
    void sendBytes(Peer& peer, const QByteArray& bytes, const QString& shown);
    void pushLists();

    QString currentList(const QString& client) const;
    QString allCallables() const;
    QString stationCallables(const QString& client) const;
    QList<int> resourcesOf(const QString& client) const;
    const Resource* resource(int id) const;
    int idFor(const QString& name);
    QString peerLabel(const Peer& peer) const;

    void cmdHelp();
    void cmdCall(const QStringList& args);
    void cmdConfirm(const QStringList& args);
    void cmdEnd(const QStringList& args);
    void cmdResource(const QStringList& args);
    void cmdAssign(const QStringList& args);
    void cmdUnknown(const QStringList& args);
    void cmdRaw(const QString& text);
    void cmdDrop();
    void cmdList();
    void cmdQuit();

    SimOptions m_options;
    QTcpServer* m_server = nullptr;
    QHash<QTcpSocket*, Peer> m_peers;
    QList<Resource> m_resources;
    QList<Call> m_calls;
    int m_nextCall = 1;
    QMap<QString, Client> m_clients;
    QHash<QString, int> m_ids;       // client and caller names to record numbers
    QSet<QString> m_unknown;
    QHash<QString, QString> m_ini;   // "section\nkey", lower case
    bool m_muted = false;            // a server that has stopped answering
};

// One line on stdout, UTF-8, flushed at once so scripts can follow it.
void printLine(const QString& line);
// Every printed line starts with the time of day (HH:mm:ss.zzz).
void setTimestamps(bool on);

} // namespace quvo::sim
