#include "observe/StatusModel.h"

#include "observe/ObserveTexts.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace quvo {

namespace {

qint64 wallNow() { return QDateTime::currentMSecsSinceEpoch(); }

QString isoTime(qint64 wallMs)
{
    return QDateTime::fromMSecsSinceEpoch(wallMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

const char* healthName(StatusModel::Health h)
{
    return h == StatusModel::Health::Pass ? "pass" : h == StatusModel::Health::Warn ? "warn" : "fail";
}

// Label values of the text format: backslash, quote and line break escaped.
QByteArray label(const QString& value)
{
    QByteArray out;
    for (const char c : value.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c == '\n' ? QByteArray("\\n") : QByteArray(1, c);
    }
    return out;
}

QByteArray number(double v) { return QByteArray::number(v, 'g', 10); }

void family(QByteArray& out, const char* name, const char* type, const char* help)
{
    out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

} // namespace

StatusModel::StatusModel(Clock& clock) : m_clock(clock), m_downSinceMs(clock.nowMs()), m_downSinceWallMs(wallNow()) {}

int StatusModel::addReceiver(const QString& name)
{
    Receiver r;
    r.name = name;
    m_receivers.push_back(r);
    return int(m_receivers.size()) - 1;
}

void StatusModel::setOtherReceivers(const QStringList& names)
{
    std::vector<Receiver> receivers(m_receivers.begin(), m_receivers.begin() + std::min<std::size_t>(1, m_receivers.size()));
    for (const QString& name : names) {
        const auto same = std::find_if(m_receivers.begin() + std::ptrdiff_t(receivers.size()), m_receivers.end(),
                                       [&](const Receiver& r) { return r.name == name; });
        Receiver r;
        r.name = name;
        receivers.push_back(same != m_receivers.end() ? *same : r);
    }
    m_receivers = std::move(receivers);
}

void StatusModel::setConnected(bool up)
{
    if (up == m_connected)
        return;
    m_connected = up;
    if (up) {
        if (m_everConnected)
            ++m_reconnects;
        m_everConnected = true;
    } else {
        m_downSinceMs = m_clock.nowMs();
        m_downSinceWallMs = wallNow();
    }
}

void StatusModel::callListSeen(int unconfirmed)
{
    m_lastListMs = m_clock.nowMs();
    m_unconfirmed = unconfirmed;
}

void StatusModel::setShouldBeOn(int index, bool on)
{
    Receiver& r = receiver(index);
    if (on && !r.shouldBeOn)
        r.shouldBeOnSinceMs = m_clock.nowMs();
    r.shouldBeOn = on;
}

void StatusModel::switchOnAsked(int index) { receiver(index).commandAskedMs = m_clock.nowMs(); }

void StatusModel::commandDone(int index, bool on, bool ok)
{
    Receiver& r = receiver(index);
    ++r.commands[on][ok];
    if (ok) {
        r.lastSentOn = on;
        r.lastSuccessWallMs = wallNow();
    }
    if (on && r.commandAskedMs >= 0) {
        observeLatency(double(m_clock.nowMs() - r.commandAskedMs) / 1000.0);
        r.commandAskedMs = -1;
    }
}

void StatusModel::setFault(int index, bool fault, const QString& text)
{
    Receiver& r = receiver(index);
    if (fault && !r.fault) {
        r.faultSinceMs = m_clock.nowMs();
        r.faultSinceWallMs = wallNow();
    }
    r.fault = fault;
    r.faultText = fault ? text : QString();
}

void StatusModel::observeLatency(double seconds)
{
    for (std::size_t i = 0; i < kLatencyBuckets.size(); ++i)
        if (seconds <= kLatencyBuckets[i])
            ++m_buckets[i];
    ++m_latencyCount;
    m_latencySum += seconds;
}

StatusModel::Health StatusModel::serverHealth() const
{
    if (m_connected)
        return Health::Pass;
    return m_clock.nowMs() - m_downSinceMs > kServerFailMs ? Health::Fail : Health::Warn;
}

StatusModel::Health StatusModel::receiverHealth(const Receiver& r) const
{
    if (!r.fault)
        return Health::Pass;
    const qint64 now = m_clock.nowMs();
    const bool long_ = r.shouldBeOn && now - r.faultSinceMs > kReceiverFailMs
        && now - r.shouldBeOnSinceMs > kReceiverFailMs;
    return long_ ? Health::Fail : Health::Warn;
}

StatusModel::Health StatusModel::health() const
{
    Health worst = serverHealth();
    for (const Receiver& r : m_receivers)
        worst = std::max(worst, receiverHealth(r));
    return worst;
}

QByteArray StatusModel::healthJson(const QString& version) const
{
    QJsonObject server{{QStringLiteral("componentType"), QStringLiteral("system")},
                       {QStringLiteral("status"), QLatin1String(healthName(serverHealth()))},
                       {QStringLiteral("observedValue"), m_connected},
                       {QStringLiteral("output"), m_statusText}};
    if (!m_connected)
        server.insert(QStringLiteral("time"), isoTime(m_downSinceWallMs));

    QJsonArray receivers;
    for (const Receiver& r : m_receivers) {
        QJsonObject check{{QStringLiteral("componentId"), r.name},
                          {QStringLiteral("componentType"), QStringLiteral("component")},
                          {QStringLiteral("status"), QLatin1String(healthName(receiverHealth(r)))},
                          {QStringLiteral("observedValue"), r.intendedOn},
                          {QStringLiteral("output"), r.faultText}};
        if (r.fault)
            check.insert(QStringLiteral("time"), isoTime(r.faultSinceWallMs));
        receivers.append(check);
    }
    const QJsonObject root{
        {QStringLiteral("status"), QLatin1String(healthName(health()))},
        {QStringLiteral("version"), version},
        {QStringLiteral("description"), observe_texts::kHealthDescription},
        {QStringLiteral("checks"), QJsonObject{{QStringLiteral("server:connected"), QJsonArray{server}},
                                               {QStringLiteral("receiver:state"), receivers}}}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray StatusModel::metricsText() const
{
    QByteArray out;
    out.reserve(4096);
    family(out, "quvo_server_connected", "gauge", "1 while the connection to the call server is up.");
    out += "quvo_server_connected " + number(m_connected) + '\n';
    family(out, "quvo_call_list_age_seconds", "gauge", "Seconds since the last call list; absent before the first.");
    if (m_lastListMs >= 0)
        out += "quvo_call_list_age_seconds " + number(double(m_clock.nowMs() - m_lastListMs) / 1000.0) + '\n';
    family(out, "quvo_unconfirmed_calls", "gauge", "Unconfirmed calls in the last call list.");
    out += "quvo_unconfirmed_calls " + number(m_unconfirmed) + '\n';

    const auto perReceiver = [&](const char* name, const char* type, const char* help, auto value) {
        family(out, name, type, help);
        for (const Receiver& r : m_receivers)
            out += QByteArray(name) + "{receiver=\"" + label(r.name) + "\"} " + number(value(r)) + '\n';
    };
    perReceiver("quvo_receiver_intended_on", "gauge", "1 while the receiver should be on.",
                [](const Receiver& r) { return double(r.intendedOn); });
    perReceiver("quvo_receiver_last_sent_on", "gauge", "1 when the last command the library took was on.",
                [](const Receiver& r) { return double(r.lastSentOn); });
    perReceiver("quvo_receiver_fault", "gauge", "1 while the receiver cannot be switched.",
                [](const Receiver& r) { return double(r.fault); });
    perReceiver("quvo_receiver_last_success_timestamp_seconds", "gauge",
                "Unix time of the last command the library took; 0 before the first.",
                [](const Receiver& r) { return double(r.lastSuccessWallMs) / 1000.0; });

    family(out, "quvo_receiver_commands_total", "counter", "Commands sent to a receiver, by command and result.");
    for (const Receiver& r : m_receivers)
        for (int on : {1, 0})
            for (int ok : {1, 0})
                out += "quvo_receiver_commands_total{receiver=\"" + label(r.name) + "\",command=\""
                    + (on ? "on" : "off") + "\",result=\"" + (ok ? "ok" : "failed") + "\"} "
                    + QByteArray::number(r.commands[on][ok]) + '\n';

    family(out, "quvo_reconnects_total", "counter", "Connections to the call server after the first.");
    out += "quvo_reconnects_total " + QByteArray::number(m_reconnects) + '\n';
    family(out, "quvo_library_restarts_total", "counter", "Times the Telldus library was closed and opened again.");
    out += "quvo_library_restarts_total " + QByteArray::number(m_libraryRestarts) + '\n';
    family(out, "quvo_server_errors_total", "counter", "Error texts received from the call server.");
    out += "quvo_server_errors_total " + QByteArray::number(m_serverErrors) + '\n';

    family(out, "quvo_call_to_command_seconds", "histogram",
           "Time from a call list that switches a receiver on to the library's answer to that command.");
    for (std::size_t i = 0; i < kLatencyBuckets.size(); ++i)
        out += "quvo_call_to_command_seconds_bucket{le=\"" + number(kLatencyBuckets[i]) + "\"} "
            + QByteArray::number(m_buckets[i]) + '\n';
    out += "quvo_call_to_command_seconds_bucket{le=\"+Inf\"} " + QByteArray::number(m_latencyCount) + '\n';
    out += "quvo_call_to_command_seconds_sum " + number(m_latencySum) + '\n';
    out += "quvo_call_to_command_seconds_count " + QByteArray::number(m_latencyCount) + '\n';
    return out;
}

} // namespace quvo
