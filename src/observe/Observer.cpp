#include "observe/Observer.h"

#include "common/Paths.h"
#include "common/SettingsStore.h"
#include "common/VersionInfo.h"
#include "core/Dispatcher.h"
#include "core/HardwareClient.h"
#include "core/ReceiverSet.h"
#include "core/ServerConnection.h"
#include "device/Activation.h"
#include "device/DeviceController.h"
#include "device/TelldusLibrary.h"
#include "device/TelldusWorker.h"
#include "observe/HistoryWriter.h"
#include "observe/ObserveTexts.h"
#include "observe/StatusServer.h"

#include <QDateTime>
#include <QDir>
#include <algorithm>

namespace quvo {

namespace {

using Intent = DeviceController::Intent;
namespace texts = observe_texts;

int unconfirmedCallers(const TCallList& calls)
{
    int n = 0;
    for (const TCallObject& call : calls)
        n += int(std::count_if(call.CurrentCallList.begin(), call.CurrentCallList.end(),
                               [](const TCaller& c) { return c.CallComingLopnr <= 0; }));
    return n;
}

// "host:port", "[v6]:port", ":port" (every address); false when it is none.
bool parseListen(const QString& text, QHostAddress* address, quint16* port)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon < 0)
        return false;
    bool ok = false;
    const uint p = text.mid(colon + 1).toUInt(&ok);
    if (!ok || p > 65535)
        return false;
    QString host = text.left(colon).trimmed();
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty() || host == u"*")
        *address = QHostAddress(QHostAddress::Any);
    else if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        *address = QHostAddress(QHostAddress::LocalHost);
    else if (!address->setAddress(host))
        return false;
    *port = quint16(p);
    return true;
}

} // namespace

Observer::Observer(HardwareClient& client, Clock& clock, QObject* parent)
    : QObject(parent), m_client(client), m_model(clock)
{
    HardwareClient::Parts parts = client.parts();
    m_model.addReceiver(parts.device.deviceName());
    watch(0, parts.device, parts.activation);
    watchOthers();
    connect(&client, &HardwareClient::receiversChanged, this, &Observer::watchOthers);

    connect(&parts.connection, &ServerConnection::connectedChanged, this, [this](bool up) {
        m_model.setConnected(up);
        if (up == m_up)
            return;
        m_up = up;
        if (m_history && !m_client.quitting())   // the quit's own close is no loss
            m_history->event(up ? texts::kEventConnected : texts::kEventLost);
    });
    connect(&client, &HardwareClient::statusChanged, this, [this](const QString& t) { m_model.setStatusText(t); });
    connect(&parts.dispatcher, &Dispatcher::callListEvaluated, this, &Observer::onCallList);
    connect(&parts.dispatcher, &Dispatcher::serverErrorReceived, this, [this] { m_model.serverError(); });
    connect(&parts.telldus, &TelldusWorker::libraryRestarted, this, [this] {
        m_model.libraryRestarted();
        if (m_history)
            m_history->event(texts::kEventLibraryRestarted);
    });
    connect(&client, &HardwareClient::quitStarted, this, [this] {
        if (!m_history)
            return;
        const qint64 successor = m_client.startedProgramPid();
        if (successor > 0)
            m_history->event(texts::kEventUpdate, QString::number(successor));
        m_history->event(texts::kEventEnded);
    });

    m_pruneTimer.setInterval(kPruneEveryMs);
    connect(&m_pruneTimer, &QTimer::timeout, this, &Observer::prune);
}

Observer::~Observer() = default;

QString Observer::historyPath()
{
    return QDir::cleanPath(GetSpecialFolderPath() + QStringLiteral("/Veltaris/QUVO/history.sqlite"));
}

quint16 Observer::statusPort() const { return m_server ? m_server->port() : 0; }

void Observer::start(const QString& defaultListen)
{
    SettingsStore& settings = m_client.settings();
    startEndpoint(settings.ReadSettingDef(texts::kSection, texts::kListenKey, defaultListen).trimmed());

    m_historyDays = std::clamp(settings.readInt(texts::kSection, texts::kDaysKey, kDefaultHistoryDays), 1, 100 * 366);
    m_writer = std::make_unique<HistoryWriter>(historyPath());
    connect(m_writer.get(), &HistoryWriter::unwritable, this, [this](const QString& reason) {
        emit notice(texts::kHistoryUnwritable.arg(m_writer->path(), reason), true);
    });
    connect(m_writer.get(), &HistoryWriter::writableAgain, this,
            [this] { emit notice(texts::kHistoryWritable, false); });
    m_history = std::make_unique<CallHistory>(*m_writer);
    m_history->event(texts::kEventStarted, buildProductVersion());
    prune();
    m_pruneTimer.start();
}

void Observer::startEndpoint(const QString& listen)
{
    // A blank value counts as not set, as every setting's does: "off" is off.
    if (listen.isEmpty() || listen.compare(u"off", Qt::CaseInsensitive) == 0)
        return;
    QHostAddress address;
    quint16 port = 0;
    if (!parseListen(listen, &address, &port)) {
        emit notice(texts::kListenBad.arg(listen), true);
        return;
    }
    m_server = std::make_unique<StatusServer>([this](const QString& path) {
        refreshReceivers();
        StatusServer::Answer a;
        if (path == u"/health") {
            a.status = StatusModel::httpStatus(m_model.health());
            a.contentType = "application/health+json";
            a.body = m_model.healthJson(buildProductVersion());
        } else if (path == u"/metrics") {
            a.status = 200;
            a.contentType = "text/plain; version=0.0.4; charset=utf-8";
            a.body = m_model.metricsText();
        } else {
            a.body = "Finns inte\n";
        }
        return a;
    });
    QString error;
    if (!m_server->listenOn(address, port, &error)) {
        m_server.reset();
        emit notice(texts::kListenFailed.arg(listen, error), true);
        return;
    }
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(address.toString())
        : address == QHostAddress(QHostAddress::Any) ? QStringLiteral("0.0.0.0") : address.toString();
    emit notice(texts::kListening.arg(host + u':' + QString::number(m_server->port())), false);
}

void Observer::watch(std::size_t index, DeviceController& device, Activation& activation)
{
    if (m_watched.size() <= index)
        m_watched.resize(index + 1);
    Watched& w = m_watched[index];
    w.device = &device;
    w.activation = &activation;
    w.links.push_back(connect(&device, &DeviceController::commandDone, this,
                              [this, index](bool on, bool ok) { onCommandDone(index, on, ok); }));
    w.links.push_back(connect(&device, &DeviceController::faultChanged, this,
                              [this, index](bool fault, const QString& reason) {
        refreshReceiver(index);
        m_model.setFault(int(index), fault, reason);
        // The history names a receiver besides the primary.
        const QString named = index == 0 ? reason : m_watched[index].device->deviceName() + QStringLiteral(": ") + reason;
        if (m_history)
            m_history->event(fault ? texts::kEventFault : texts::kEventRecovered, fault ? named : QString());
    }));
}

// Read again whenever the settings' receivers change: the objects are new.
void Observer::watchOthers()
{
    for (std::size_t i = 1; i < m_watched.size(); ++i)
        for (const QMetaObject::Connection& link : m_watched[i].links)
            disconnect(link);
    m_watched.resize(std::min<std::size_t>(1, m_watched.size()));
    ReceiverSet& others = m_client.parts().receivers;
    QStringList names;
    for (int i = 0; i < others.count(); ++i)
        names << others.device(i).deviceName();
    m_model.setOtherReceivers(names);
    for (int i = 0; i < others.count(); ++i)
        watch(std::size_t(i) + 1, others.device(i), others.activation(i));
    refreshReceivers();
}

// What the device decides and takes changes without a signal of its own:
// read it whenever something is reported.
void Observer::refreshReceiver(std::size_t index)
{
    const Watched& w = m_watched[index];
    StatusModel::Receiver& r = m_model.receiver(int(index));
    r.name = w.device->deviceName();
    r.intendedOn = w.device->intent() == Intent::On;
    const Intent accepted = w.device->accepted();
    r.lastSentOn = accepted == Intent::None ? w.device->panelTag() == TelldusLibrary::kTurnOn
                                            : accepted == Intent::On;
    m_model.setShouldBeOn(int(index), r.intendedOn || w.activation->active());
}

void Observer::refreshReceivers()
{
    for (std::size_t i = 0; i < m_watched.size(); ++i)
        refreshReceiver(i);
}

void Observer::onCallList()
{
    HardwareClient::Parts parts = m_client.parts();
    const TCallList& calls = m_client.currentCalls();
    m_model.callListSeen(unconfirmedCallers(calls));
    refreshReceivers();
    for (std::size_t i = 0; i < m_watched.size(); ++i)
        if (m_watched[i].device->intent() == Intent::On && m_watched[i].device->accepted() != Intent::On)
            m_model.switchOnAsked(int(i));
    // The history follows the primary's answer to each call.
    const bool wantOn = parts.device.intent() == Intent::On;
    const bool isOn = parts.device.accepted() == Intent::On;
    if (m_history)
        m_history->callList(calls, parts.device.deviceName(), wantOn && isOn);
}

void Observer::onCommandDone(std::size_t index, bool on, bool ok)
{
    m_model.commandDone(int(index), on, ok);
    refreshReceiver(index);
    if (!m_history || index != 0)
        return;
    // The controller tells the failure's text just after this signal.
    QMetaObject::invokeMethod(this, [this, on, ok] {
        const DeviceController& device = m_client.parts().device;
        m_history->commandDone(device.deviceName(), on, ok, device.panelCaption());
    }, Qt::QueuedConnection);
}

void Observer::prune()
{
    if (m_history)
        m_history->prune(QDateTime::currentMSecsSinceEpoch() - qint64(m_historyDays) * 24 * 3600 * 1000);
}

} // namespace quvo
