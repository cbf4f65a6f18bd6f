#include <QTime>
#include "SimServer.h"

#include "common/Codec.h"
#include "protocol/Field.h"
#include "protocol/Frame.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>

namespace quvo::sim {

namespace {

// A peer that never closes a frame must not eat the memory.
constexpr std::size_t kInboxLimit = 1024 * 1024;

const char* const kTimeFormat = "yyyy-MM-dd HH:mm:ss";

// Windows colour values: red in the low byte.
const int kPalette[] = {255, 32768, 16711680, 8421504, 33023, 8388736, 8421376};

const char* const kHelp =
    "commands:\n"
    "  call <resource-id> <caller name...>   place a call, prints its number\n"
    "  confirm <call-no> [by-name...]        somebody is coming\n"
    "  end <call-no>                         the call is over\n"
    "  resource <id> <name...> [inactive]    add or change a resource\n"
    "  assign <client-name> <id,id,...|-|all> resources of a client (- none, all = default)\n"
    "  unknown <client-name> on|off          answer that client with ERROR: 001\n"
    "  version <text>                        server version to report\n"
    "  raw <text>                            send text to every connection (\\r \\n escapes)\n"
    "  drop                                  close every client connection\n"
    "  mute on|off                           keep accepting and reading, answer nothing\n"
    "  update normal|error|cut|silent        how GETNEWCLIENT is answered\n"
    "  list                                  calls, connections and clients\n"
    "  quit";

QString shown(const QString& text)
{
    QString s = text;
    s.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    s.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return s;
}

QString iniKey(QString section, const QString& key)
{
    // The client writes the shared section as "Section" and asks for it as
    // "\Section"; both mean the same entry. Sections and keys ignore case.
    if (section.startsWith(QLatin1Char('\\')))
        section.remove(0, 1);
    return section.toLower() + QLatin1Char('\n') + key.toLower();
}

QString unescape(const QString& text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar n = text[i + 1];
            if (n == QLatin1Char('r')) { out += QLatin1Char('\r'); ++i; continue; }
            if (n == QLatin1Char('n')) { out += QLatin1Char('\n'); ++i; continue; }
            if (n == QLatin1Char('\\')) { out += QLatin1Char('\\'); ++i; continue; }
        }
        out += c;
    }
    return out;
}

} // namespace

namespace {
bool g_timestamps = false;
}

void setTimestamps(bool on) { g_timestamps = on; }

void printLine(const QString& line)
{
    QByteArray utf8 = line.toUtf8();
    if (g_timestamps)
        utf8.prepend(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")).toUtf8());
    std::fwrite(utf8.constData(), 1, static_cast<size_t>(utf8.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::optional<UpdateMode> parseUpdateMode(const QString& text)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("normal")) return UpdateMode::Normal;
    if (t == QLatin1String("error")) return UpdateMode::Error;
    if (t == QLatin1String("cut")) return UpdateMode::Cut;
    if (t == QLatin1String("silent")) return UpdateMode::Silent;
    return std::nullopt;
}

static QString modeName(UpdateMode mode)
{
    switch (mode) {
    case UpdateMode::Normal: return QStringLiteral("normal");
    case UpdateMode::Error: return QStringLiteral("error");
    case UpdateMode::Cut: return QStringLiteral("cut");
    case UpdateMode::Silent: return QStringLiteral("silent");
    }
    return {};
}

SimServer::SimServer(const SimOptions& options, QObject* parent)
    : QObject(parent), m_options(options), m_server(new QTcpServer(this))
{
    m_resources = {
        {1, QStringLiteral("Läkare"), kPalette[0], true},
        {2, QStringLiteral("Sköterska"), kPalette[1], true},
        {3, QStringLiteral("Labb"), kPalette[2], true},
        {4, QStringLiteral("Röntgen"), kPalette[3], false},
    };
    if (m_options.chunkSize < 1)
        m_options.chunkSize = 1;
    connect(m_server, &QTcpServer::newConnection, this, &SimServer::onNewConnection);
}

SimServer::~SimServer() = default;

bool SimServer::listen(const QHostAddress& host, quint16 port)
{
    return m_server->listen(host, port);
}

quint16 SimServer::port() const { return m_server->serverPort(); }
QString SimServer::errorString() const { return m_server->errorString(); }

// ---------------------------------------------------------------- network

void SimServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        Peer peer;
        peer.socket = socket;
        peer.address = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        m_peers.insert(socket, peer);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        // Queued: a failing write must not pull the peer away under a handler.
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onDisconnected(socket); },
                Qt::QueuedConnection);
        printLine(QStringLiteral("-- [%1] connected").arg(peerLabel(m_peers[socket])));
    }
}

void SimServer::onDisconnected(QTcpSocket* socket)
{
    auto it = m_peers.find(socket);
    if (it == m_peers.end())
        return;
    printLine(QStringLiteral("-- [%1] disconnected").arg(peerLabel(*it)));
    m_peers.erase(it);
    socket->deleteLater();
}

void SimServer::onReadyRead(QTcpSocket* socket)
{
    auto it = m_peers.find(socket);
    if (it == m_peers.end())
        return;
    const QByteArray bytes = socket->readAll();
    it->inbox.append(bytes.constData(), static_cast<size_t>(bytes.size()));
    cutFrames(*it);
}

// Takes every complete "¤TAG:...TAG¤" off the front of the inbox. The closing
// is searched as "TAG¤" rather than ":TAG¤": the start-up list of resources
// is posted exactly as it was given, possibly without the final ':'.
void SimServer::cutFrames(Peer& peer)
{
    std::string& in = peer.inbox;
    std::string loose;
    auto flushLoose = [&] {
        if (!loose.empty())
            printLine(QStringLiteral("<- [%1] text: %2").arg(peerLabel(peer), shown(quvo::fromWire(loose))));
        loose.clear();
    };

    while (!in.empty()) {
        const std::size_t p = in.find(protocol::kFrameChar);
        if (p == std::string::npos) {
            loose += in;
            in.clear();
            break;
        }
        std::size_t q = p + 1;
        while (q < in.size() && in[q] >= 'A' && in[q] <= 'Z')
            ++q;
        if (q == in.size()) { // the opening marker may still be on its way
            loose.append(in, 0, p);
            in.erase(0, p);
            break;
        }
        if (q == p + 1 || in[q] != ':') { // a lone ¤ in text
            loose.append(in, 0, p + 1);
            in.erase(0, p + 1);
            continue;
        }
        const std::string tag = in.substr(p + 1, q - p - 1);
        const std::size_t c = in.find(tag + protocol::kFrameChar, q + 1);
        if (c == std::string::npos) {
            loose.append(in, 0, p);
            in.erase(0, p);
            break;
        }
        loose.append(in, 0, p);
        flushLoose();

        std::string_view body(in.data() + q + 1, c - (q + 1));
        if (!body.empty() && body.back() == ':')
            body.remove_suffix(1); // the ':' that begins the closing marker
        QStringList fields;
        protocol::FieldIterator it(body, ':');
        std::string_view field;
        while (it.next(field))
            fields << quvo::fromWire(field);
        const std::size_t end = c + tag.size() + 1;
        const QByteArray raw(in.data() + p, static_cast<qsizetype>(end - p));
        in.erase(0, end);
        handleFrame(peer, tag, fields, raw);
    }
    flushLoose();

    if (in.size() > kInboxLimit) {
        printLine(QStringLiteral("-- [%1] %2 bytes without a closing marker dropped")
                      .arg(peerLabel(peer)).arg(in.size()));
        in.clear();
    }
}

void SimServer::handleFrame(Peer& peer, const std::string& tag, const QStringList& fields, const QByteArray& raw)
{
    auto field = [&fields](int n) { return n >= 1 && n <= fields.size() ? fields[n - 1] : QString(); };
    const QString t = QString::fromLatin1(tag);

    static const QSet<QString> namedInField1 = {
        QStringLiteral("RECONNECT"), QStringLiteral("REGISTERUPATEMACHINE"),
        QStringLiteral("POSTCALLABLESLIST"), QStringLiteral("GETSERVERVERSION"),
        QStringLiteral("GETCALLLIST"), QStringLiteral("GETALLCALLABLES"),
        QStringLiteral("GETSTATIONCALLABLES")};
    if (namedInField1.contains(t) && !field(1).isEmpty())
        peer.name = field(1);
    else if (t == QLatin1String("GETNEWCLIENT") && !field(2).isEmpty())
        peer.name = field(2);

    printLine(QStringLiteral("<- [%1] %2").arg(peerLabel(peer), shown(quvo::fromWire(raw))));

    const QString client = peer.name;
    // Registering is how an unknown client becomes known, so it is let through.
    if (!client.isEmpty() && m_unknown.contains(client) && t != QLatin1String("REGISTERUPATEMACHINE")) {
        send(peer, QStringLiteral("ERROR: 001 Klienten finns inte"));
        return;
    }

    if (t == QLatin1String("GETSERVERVERSION")) {
        send(peer, QStringLiteral("¤RETSERVERVERSION:%1:RETSERVERVERSION¤").arg(m_options.serverVersion));
    } else if (t == QLatin1String("GETCALLLIST")) {
        peer.wantsList = true;
        send(peer, currentList(client));
    } else if (t == QLatin1String("GETKLINIKNAMN")) {
        send(peer, QStringLiteral("¤RETKLINIKNAMN:%1:RETKLINIKNAMN¤").arg(m_options.clinic));
    } else if (t == QLatin1String("SETINITEXT")) {
        m_ini.insert(iniKey(field(1), field(2)), field(3));
    } else if (t == QLatin1String("GETINITEXT")) {
        send(peer, QStringLiteral("¤RETINITEXT:%1:RETINITEXT¤").arg(m_ini.value(iniKey(field(1), field(2)))));
    } else if (t == QLatin1String("GETALLCALLABLES")) {
        send(peer, allCallables());
        peer.sentAllCallables = true;
    } else if (t == QLatin1String("GETSTATIONCALLABLES")) {
        // The client fills its chosen list from the full one: never the other way round.
        if (!peer.sentAllCallables) {
            send(peer, allCallables());
            peer.sentAllCallables = true;
        }
        send(peer, stationCallables(client));
    } else if (t == QLatin1String("REGISTERUPATEMACHINE")) {
        Client& c = m_clients[client];
        c.place = field(3);
        c.colour = protocol::toIntDef(quvo::toWireString(field(4)));
        idFor(client);
        if (m_unknown.remove(client))
            printLine(QStringLiteral("   %1 registered, no longer unknown").arg(client));
        send(peer, QStringLiteral("¤QUVOCLIENTDATA:%1:%2:%3:QUVOCLIENTDATA¤").arg(client, c.place).arg(c.colour));
    } else if (t == QLatin1String("POSTCALLABLESLIST")) {
        QList<int> ids;
        for (int n = 3; n <= fields.size() && !field(n).isEmpty(); n += 2)
            ids << protocol::toIntDef(quvo::toWireString(field(n)));
        m_clients[client].resources = ids;
        pushLists();
    } else if (t == QLatin1String("RECONNECT")) {
        // A renewed connection does not ask for its list again but still
        // needs every change from now on.
        peer.wantsList = true;
    } else if (t == QLatin1String("GETNEWCLIENT")) {
        handleGetNewClient(peer);
    } else {
        printLine(QStringLiteral("   (no answer to %1)").arg(t));
    }
}

void SimServer::handleGetNewClient(Peer& peer)
{
    if (m_options.updateMode == UpdateMode::Silent) {
        printLine(QStringLiteral("   (update mode silent: no answer)"));
        return;
    }
    QFile file(m_options.programFile);
    if (m_options.updateMode == UpdateMode::Error || m_options.programFile.isEmpty()
        || !file.open(QIODevice::ReadOnly)) {
        if (m_options.updateMode != UpdateMode::Error)
            printLine(QStringLiteral("   no program file to serve (%1)")
                          .arg(m_options.programFile.isEmpty() ? QStringLiteral("--program-file not given")
                                                               : file.errorString()));
        send(peer, QStringLiteral("ERROR: 17 Filen saknas"));
        return;
    }
    const QByteArray content = file.readAll();
    const bool cut = m_options.updateMode == UpdateMode::Cut;
    const QByteArray body = cut ? content.left(content.size() / 2) : content;

    // The client recognises the block only when the opening markers come in
    // the first read and both closing markers together in the last, so they
    // travel with the first piece and as a piece of their own.
    peer.pieces.clear();
    for (qsizetype off = 0; off < body.size(); off += m_options.chunkSize)
        peer.pieces << body.mid(off, m_options.chunkSize);
    const QByteArray head = QByteArray(protocol::kDataStart.data(), qsizetype(protocol::kDataStart.size()))
                            + quvo::toWire(QStringLiteral("¤RETNEWCLIENT:"));
    if (peer.pieces.isEmpty())
        peer.pieces << head;
    else
        peer.pieces.first().prepend(head);
    if (!cut)
        peer.pieces << quvo::toWire(QStringLiteral(":RETNEWCLIENT¤"))
                           + QByteArray(protocol::kDataEnd.data(), qsizetype(protocol::kDataEnd.size()));

    printLine(QStringLiteral("-> [%1] #DATASTART#¤RETNEWCLIENT:<%2 bytes>%3 in %4 pieces")
                  .arg(peerLabel(peer))
                  .arg(body.size())
                  .arg(cut ? QStringLiteral(" (half of %1, no end markers)").arg(content.size())
                           : QStringLiteral(":RETNEWCLIENT¤#DATAEND#"))
                  .arg(peer.pieces.size()));

    if (!peer.sendTimer) {
        peer.sendTimer = new QTimer(peer.socket);
        QTcpSocket* socket = peer.socket;
        connect(peer.sendTimer, &QTimer::timeout, this, [this, socket] { sendNextPiece(socket); });
    }
    peer.sendTimer->start(m_options.chunkIntervalMs);
}

void SimServer::sendNextPiece(QTcpSocket* socket)
{
    auto it = m_peers.find(socket);
    if (it == m_peers.end())
        return;
    if (!it->pieces.isEmpty()) {
        socket->write(it->pieces.takeFirst());
        socket->flush();
    }
    if (it->pieces.isEmpty()) {
        it->sendTimer->stop();
        printLine(QStringLiteral("-> [%1] program file written").arg(peerLabel(*it)));
    }
}

void SimServer::send(Peer& peer, const QString& text)
{
    sendBytes(peer, quvo::toWire(text), QString());
}

void SimServer::sendBytes(Peer& peer, const QByteArray& bytes, const QString& label)
{
    if (m_muted) {
        printLine(QStringLiteral("-x [%1] (muted) %2").arg(peerLabel(peer), label.isEmpty() ? shown(quvo::fromWire(bytes)) : label));
        return;
    }
    peer.socket->write(bytes);
    peer.socket->flush();
    printLine(QStringLiteral("-> [%1] %2").arg(peerLabel(peer), label.isEmpty() ? shown(quvo::fromWire(bytes)) : label));
}

void SimServer::pushLists()
{
    for (Peer& peer : m_peers) {
        if (peer.wantsList && !peer.name.isEmpty() && !m_unknown.contains(peer.name))
            send(peer, currentList(peer.name));
    }
}

// ---------------------------------------------------------------- answers

QString SimServer::currentList(const QString& client) const
{
    QString s = QStringLiteral("¤CURRENTLIST:");
    int index = 0;
    for (int id : resourcesOf(client)) {
        const Resource* r = resource(id);
        if (!r)
            continue;
        s += QStringLiteral("%1:%2:%3:%4:¤%").arg(r->name).arg(r->id).arg(r->colour).arg(index++);
        for (const Call& call : m_calls) {
            if (call.resourceId != id)
                continue;
            const QStringList record = {
                call.callerName,
                QString::number(m_ids.value(call.callerName)),
                call.time.toString(QLatin1String(kTimeFormat)),
                QString::number(m_clients.value(call.callerName).colour),
                QString::number(call.comingId),
                call.comingTime.isValid() ? call.comingTime.toString(QLatin1String(kTimeFormat)) : QString(),
                call.comingName,
            };
            for (const QString& f : record)
                s += f + QLatin1Char('~');
        }
        s += QStringLiteral("%¤:");
    }
    if (index == 0)
        s += QLatin1Char(':'); // keeps the closing marker apart from the opening one
    return s + QStringLiteral("CURRENTLIST¤");
}

QString SimServer::allCallables() const
{
    QString s = QStringLiteral("¤RETALLCALLABLES:");
    for (qsizetype i = 0; i < m_resources.size(); ++i) {
        const Resource& r = m_resources[i];
        s += QStringLiteral("%1:%2:%3:%4:::%5:")
                 .arg(r.name).arg(r.id).arg(r.colour).arg(i)
                 .arg(r.active ? QLatin1Char('T') : QLatin1Char('F'));
    }
    if (m_resources.isEmpty())
        s += QLatin1Char(':');
    return s + QStringLiteral("RETALLCALLABLES¤");
}

QString SimServer::stationCallables(const QString& client) const
{
    QString s = QStringLiteral("¤RETSTATIONCALLABLES:");
    const QList<int> ids = resourcesOf(client);
    for (qsizetype i = 0; i < ids.size(); ++i)
        s += QStringLiteral("%1:%2:").arg(ids[i]).arg(i);
    if (ids.isEmpty())
        s += QLatin1Char(':');
    return s + QStringLiteral("RETSTATIONCALLABLES¤");
}

QList<int> SimServer::resourcesOf(const QString& client) const
{
    const auto it = m_clients.find(client);
    if (it != m_clients.end() && it->resources)
        return *it->resources;
    // Nothing chosen yet: every active resource, so the demo works unconfigured.
    QList<int> ids;
    for (const Resource& r : m_resources)
        if (r.active)
            ids << r.id;
    return ids;
}

const SimServer::Resource* SimServer::resource(int id) const
{
    for (const Resource& r : m_resources)
        if (r.id == id)
            return &r;
    return nullptr;
}

int SimServer::idFor(const QString& name)
{
    auto it = m_ids.find(name);
    if (it == m_ids.end())
        it = m_ids.insert(name, int(m_ids.size()) + 1);
    return *it;
}

QString SimServer::peerLabel(const Peer& peer) const
{
    QString s = peer.address;
    if (!peer.name.isEmpty())
        s += QLatin1Char(' ') + peer.name;
    return s;
}

// ---------------------------------------------------------------- commands

void SimServer::execute(const QString& line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
        return;
    const qsizetype blank = trimmed.indexOf(QLatin1Char(' '));
    const QString cmd = trimmed.left(blank < 0 ? trimmed.size() : blank).toLower();
    const QString rest = blank < 0 ? QString() : trimmed.mid(blank + 1).trimmed();
    const QStringList args = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);

    if (cmd == QLatin1String("help")) cmdHelp();
    else if (cmd == QLatin1String("call")) cmdCall(args);
    else if (cmd == QLatin1String("confirm")) cmdConfirm(args);
    else if (cmd == QLatin1String("end")) cmdEnd(args);
    else if (cmd == QLatin1String("resource")) cmdResource(args);
    else if (cmd == QLatin1String("assign")) cmdAssign(args);
    else if (cmd == QLatin1String("unknown")) cmdUnknown(args);
    else if (cmd == QLatin1String("version")) {
        if (rest.isEmpty()) {
            printLine(QStringLiteral("? usage: version <text>"));
            return;
        }
        m_options.serverVersion = rest;
        printLine(QStringLiteral("version %1").arg(rest));
    } else if (cmd == QLatin1String("raw")) cmdRaw(rest);
    else if (cmd == QLatin1String("drop")) cmdDrop();
    else if (cmd == QLatin1String("mute") && (rest == QLatin1String("on") || rest == QLatin1String("off"))) {
        m_muted = rest == QLatin1String("on");
        printLine(QStringLiteral("mute %1").arg(rest));
    }
    else if (cmd == QLatin1String("update")) {
        const auto mode = parseUpdateMode(rest);
        if (!mode) {
            printLine(QStringLiteral("? usage: update normal|error|cut|silent"));
            return;
        }
        m_options.updateMode = *mode;
        printLine(QStringLiteral("update %1").arg(modeName(*mode)));
    } else if (cmd == QLatin1String("list")) cmdList();
    else if (cmd == QLatin1String("quit")) cmdQuit();
    else printLine(QStringLiteral("? unknown command \"%1\"; type help for the list").arg(cmd));
}

void SimServer::cmdHelp()
{
    for (const QString& l : QString::fromLatin1(kHelp).split(QLatin1Char('\n')))
        printLine(l);
}

void SimServer::cmdCall(const QStringList& args)
{
    bool ok = false;
    const int id = args.value(0).toInt(&ok);
    const QString caller = args.mid(1).join(QLatin1Char(' '));
    if (!ok || caller.isEmpty()) {
        printLine(QStringLiteral("? usage: call <resource-id> <caller name...>"));
        return;
    }
    const Resource* r = resource(id);
    if (!r) {
        printLine(QStringLiteral("? no resource %1").arg(id));
        return;
    }
    Call call;
    call.number = m_nextCall++;
    call.resourceId = id;
    call.callerName = caller;
    call.time = QDateTime::currentDateTime();
    idFor(caller);
    m_calls << call;
    printLine(QStringLiteral("call %1: %2 calls %3 (%4)").arg(call.number).arg(caller, r->name).arg(id));
    pushLists();
}

void SimServer::cmdConfirm(const QStringList& args)
{
    bool ok = false;
    const int number = args.value(0).toInt(&ok);
    QString by = args.mid(1).join(QLatin1Char(' '));
    if (by.isEmpty())
        by = QStringLiteral("Personal");
    for (Call& call : m_calls) {
        if (ok && call.number == number) {
            call.comingId = idFor(by);
            call.comingTime = QDateTime::currentDateTime();
            call.comingName = by;
            printLine(QStringLiteral("confirmed %1 by %2").arg(number).arg(by));
            pushLists();
            return;
        }
    }
    printLine(QStringLiteral("? no call %1").arg(args.value(0)));
}

void SimServer::cmdEnd(const QStringList& args)
{
    bool ok = false;
    const int number = args.value(0).toInt(&ok);
    for (qsizetype i = 0; ok && i < m_calls.size(); ++i) {
        if (m_calls[i].number == number) {
            m_calls.removeAt(i);
            printLine(QStringLiteral("ended %1").arg(number));
            pushLists();
            return;
        }
    }
    printLine(QStringLiteral("? no call %1").arg(args.value(0)));
}

void SimServer::cmdResource(const QStringList& args)
{
    bool ok = false;
    const int id = args.value(0).toInt(&ok);
    QStringList nameParts = args.mid(1);
    const bool inactive = !nameParts.isEmpty() && nameParts.last().toLower() == QLatin1String("inactive");
    if (inactive)
        nameParts.removeLast();
    const QString name = nameParts.join(QLatin1Char(' '));
    if (!ok || name.isEmpty()) {
        printLine(QStringLiteral("? usage: resource <id> <name...> [inactive]"));
        return;
    }
    Resource* r = const_cast<Resource*>(resource(id));
    if (!r) {
        m_resources << Resource{id, name, kPalette[m_resources.size() % std::size(kPalette)], true};
        r = &m_resources.last();
    }
    r->name = name;
    r->active = !inactive;
    printLine(QStringLiteral("resource %1 %2%3").arg(id).arg(name, inactive ? QStringLiteral(" (inactive)") : QString()));
    pushLists();
}

void SimServer::cmdAssign(const QStringList& args)
{
    const QString idList = args.value(args.size() - 1);
    const QString client = args.mid(0, args.size() - 1).join(QLatin1Char(' '));
    if (client.isEmpty()) {
        printLine(QStringLiteral("? usage: assign <client-name> <id,id,...|-|all>"));
        return;
    }
    if (idList == QLatin1String("all")) {
        m_clients[client].resources.reset();
    } else {
        QList<int> ids;
        if (idList != QLatin1String("-")) {
            for (const QString& part : idList.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                bool ok = false;
                ids << part.toInt(&ok);
                if (!ok) {
                    printLine(QStringLiteral("? not a resource id: %1").arg(part));
                    return;
                }
            }
        }
        m_clients[client].resources = ids;
    }
    QStringList shownIds;
    for (int id : resourcesOf(client))
        shownIds << QString::number(id);
    printLine(QStringLiteral("assign %1: %2").arg(client, shownIds.isEmpty() ? QStringLiteral("(none)") : shownIds.join(QLatin1Char(','))));
    pushLists();
}

void SimServer::cmdUnknown(const QStringList& args)
{
    const QString onOff = args.value(args.size() - 1).toLower();
    const QString client = args.mid(0, args.size() - 1).join(QLatin1Char(' '));
    if (client.isEmpty() || (onOff != QLatin1String("on") && onOff != QLatin1String("off"))) {
        printLine(QStringLiteral("? usage: unknown <client-name> on|off"));
        return;
    }
    if (onOff == QLatin1String("on"))
        m_unknown.insert(client);
    else
        m_unknown.remove(client);
    printLine(QStringLiteral("unknown %1 %2").arg(client, onOff));
}

void SimServer::cmdRaw(const QString& text)
{
    if (text.isEmpty()) {
        printLine(QStringLiteral("? usage: raw <text>"));
        return;
    }
    const QByteArray bytes = quvo::toWire(unescape(text));
    for (Peer& peer : m_peers)
        sendBytes(peer, bytes, QString());
    printLine(QStringLiteral("raw sent to %1 connection(s)").arg(m_peers.size()));
}

void SimServer::cmdDrop()
{
    const QList<QTcpSocket*> sockets = m_peers.keys();
    for (QTcpSocket* socket : sockets)
        socket->disconnectFromHost();
    printLine(QStringLiteral("drop: %1 connection(s) closed").arg(sockets.size()));
}

void SimServer::cmdList()
{
    printLine(QStringLiteral("version %1, clinic %2, update mode %3")
                  .arg(m_options.serverVersion, m_options.clinic, modeName(m_options.updateMode)));
    printLine(QStringLiteral("resources:"));
    for (const Resource& r : m_resources)
        printLine(QStringLiteral("  %1 %2 colour %3%4").arg(r.id).arg(r.name).arg(r.colour)
                      .arg(r.active ? QString() : QStringLiteral(" (inactive)")));
    printLine(QStringLiteral("calls:"));
    for (const Call& c : m_calls) {
        const Resource* r = resource(c.resourceId);
        printLine(QStringLiteral("  %1 %2 -> %3 at %4, %5")
                      .arg(c.number).arg(c.callerName, r ? r->name : QString::number(c.resourceId),
                                         c.time.toString(QLatin1String(kTimeFormat)),
                                         c.comingId > 0 ? QStringLiteral("confirmed by ") + c.comingName
                                                        : QStringLiteral("unconfirmed")));
    }
    printLine(QStringLiteral("connections:"));
    for (const Peer& p : m_peers)
        printLine(QStringLiteral("  [%1]%2").arg(peerLabel(p), p.wantsList ? QStringLiteral(" gets lists") : QString()));
    printLine(QStringLiteral("clients:"));
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        QStringList ids;
        for (int id : resourcesOf(it.key()))
            ids << QString::number(id);
        printLine(QStringLiteral("  %1 place \"%2\" colour %3 resources %4%5")
                      .arg(it.key(), it->place).arg(it->colour)
                      .arg(it->resources ? ids.join(QLatin1Char(',')) : QStringLiteral("all"))
                      .arg(m_unknown.contains(it.key()) ? QStringLiteral(" (unknown)") : QString()));
    }
    for (const QString& name : m_unknown)
        if (!m_clients.contains(name))
            printLine(QStringLiteral("  %1 (unknown)").arg(name));
}

void SimServer::cmdQuit()
{
    for (QTcpSocket* socket : m_peers.keys()) {
        socket->flush();
        socket->waitForBytesWritten(200);
    }
    printLine(QStringLiteral("quit"));
    emit quitRequested();
}

} // namespace quvo::sim
