#include "core/ReceiverSet.h"

#include "common/SettingsStore.h"
#include "device/Activation.h"
#include "device/DeviceController.h"
#include "device/TelldusWorker.h"

#include <QLocale>
#include <algorithm>

namespace quvo {

const QString ReceiverSet::kSection = QStringLiteral("Receivers");

namespace {
const QString kMalformed = QStringLiteral(
    "Mottagare %1 i inställningarna är felaktig och används inte: %2\r"
    "Skriv den som enhetsnamn;resurser;sekunder, till exempel Summer i hallen;*;120.");
const QString kNamed = QStringLiteral("%1: %2");
} // namespace

bool ReceiverLine::serves(const QString& resourceName, int resourceId) const
{
    if (allResources)
        return true;
    for (const QString& r : resources) {
        bool number = false;
        const int id = r.toInt(&number);
        if ((number && id == resourceId) || r.compare(resourceName, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString ReceiverLine::value() const
{
    return device + u';' + (allResources ? QStringLiteral("*") : resources.join(u',')) + u';'
        + QString::number(seconds);
}

std::optional<ReceiverLine> parseReceiverLine(int key, const QString& value)
{
    const QStringList fields = value.split(u';');
    if (fields.size() != 3)
        return std::nullopt;
    ReceiverLine line;
    line.key = key;
    line.device = fields[0].trimmed();
    for (const QString& r : fields[1].split(u',')) {
        const QString resource = r.trimmed();
        if (resource == u"*")
            line.allResources = true;
        else if (!resource.isEmpty())
            line.resources << resource;
    }
    bool ok = false;
    line.seconds = fields[2].trimmed().toInt(&ok);
    if (line.device.isEmpty() || (!line.allResources && line.resources.isEmpty()) || !ok || line.seconds < 0
        || line.seconds > ReceiverLine::kMaxSeconds)
        return std::nullopt;
    if (line.allResources)
        line.resources.clear();
    return line;
}

struct ReceiverSet::Receiver {
    ReceiverLine line;
    std::unique_ptr<DeviceController> device;
    std::unique_ptr<Activation> activation;   // after the device: it goes first
    std::unique_ptr<Timer> ageTimer;          // wakes it when a call reaches its seconds
    bool fault = false;
    QString faultReason;
};

ReceiverSet::ReceiverSet(TelldusWorker& telldus, SettingsStore& settings, UserInterface& ui, Activation& primary,
                         Clock& clock, QObject* parent)
    : QObject(parent), m_telldus(telldus), m_settings(settings), m_ui(ui), m_primary(primary), m_clock(clock)
{
    connect(&m_primary, &Activation::settingsChanged, this, [this] {
        for (auto& r : m_receivers)
            r->activation->followSettings(m_primary);
    });
}

ReceiverSet::~ReceiverSet() = default;

namespace {
// The keys that hold something, with their values.
std::vector<std::pair<int, QString>> readValues(SettingsStore& settings)
{
    std::vector<std::pair<int, QString>> values;
    for (int key = 1; key <= ReceiverSet::kMaxReceivers; ++key) {
        const QString value = settings.ReadSetting(ReceiverSet::kSection, QString::number(key));
        if (value != QLatin1String(kSettingMissing) && !value.trimmed().isEmpty())
            values.emplace_back(key, value);
    }
    return values;
}
} // namespace

std::vector<ReceiverLine> ReceiverSet::readLines(SettingsStore& settings)
{
    std::vector<ReceiverLine> lines;
    for (const auto& [key, value] : readValues(settings))
        if (auto line = parseReceiverLine(key, value))
            lines.push_back(*line);
    return lines;
}

void ReceiverSet::writeLines(SettingsStore& settings, const std::vector<ReceiverLine>& lines)
{
    for (int key = 1; key <= kMaxReceivers; ++key) {
        const QString name = QString::number(key);
        const QString value = key <= int(lines.size()) ? lines[std::size_t(key - 1)].value() : QString();
        const QString before = settings.ReadSetting(kSection, name);
        // Only what changed: each write also goes to the server.
        if (before != value && !(value.isEmpty() && before == QLatin1String(kSettingMissing)))
            settings.WriteSetting(kSection, name, value);
    }
}

void ReceiverSet::load()
{
    std::vector<std::unique_ptr<Receiver>> kept;
    const QLocale locale;
    for (const auto& [key, value] : readValues(m_settings)) {
        const std::optional<ReceiverLine> line = parseReceiverLine(key, value);
        if (!line) {
            const QString told = QString::number(key) + u'=' + value;
            if (!m_told.contains(told)) {
                m_told.insert(told);
                m_malformed << kMalformed.arg(key).arg(value);
            }
            continue;
        }
        // The same device goes on as it is, with what it decided.
        auto same = std::find_if(m_receivers.begin(), m_receivers.end(), [&](const auto& r) {
            return r && locale.toUpper(r->line.device) == locale.toUpper(line->device);
        });
        if (same != m_receivers.end()) {
            (*same)->line = *line;
            kept.push_back(std::move(*same));
        } else {
            kept.push_back(create(*line));
            if (m_lookedUp)
                kept.back()->device->BitBtn2Click();
        }
    }
    // A receiver no longer set is switched off on its way out.
    for (auto& r : m_receivers) {
        if (r) {
            r->activation->StopActivation();
            r->device->flushIntent();
        }
    }
    m_receivers = std::move(kept);
    // Before the first call list nothing is decided, as for the primary.
    if (m_listSeen)
        for (auto& r : m_receivers)
            decide(*r, true);
    emit receiversChanged();
    if (m_lookedUp)
        tellMalformed();
}

std::unique_ptr<ReceiverSet::Receiver> ReceiverSet::create(const ReceiverLine& line)
{
    auto r = std::make_unique<Receiver>();
    r->line = line;
    r->device = std::make_unique<DeviceController>(m_telldus, m_settings, m_ui, m_clock);
    r->device->useName(line.device);
    r->device->setLibraryMessageAsNotice(true);
    r->activation = std::make_unique<Activation>(*r->device, m_settings, m_clock);
    r->activation->followSettings(m_primary);
    r->ageTimer = m_clock.createTimer();
    r->ageTimer->setSingleShot(true);
    // A coarse timer may be 5% late: 6 s on a two-minute wait.
    r->ageTimer->setTimerType(Qt::PreciseTimer);
    Receiver* raw = r.get();
    connect(r->ageTimer.get(), &Timer::timeout, this, [this, raw] { decide(*raw, false); });
    connect(r->device.get(), &DeviceController::statusChanged, this, [this, raw](const QString& caption, Indicator c) {
        emit statusChanged(raw->line.key, raw->line.device, caption, c);
    });
    connect(r->device.get(), &DeviceController::faultChanged, this, [this, raw](bool fault, const QString& reason) {
        raw->fault = fault;
        raw->faultReason = reason;
        emit faultChanged(raw->line.key, raw->line.device, fault, reason);
    });
    connect(r->device.get(), &DeviceController::notice, this, [this, raw](const QString& text, bool warning) {
        emit notice(kNamed.arg(raw->line.device, text), warning);
    });
    return r;
}

void ReceiverSet::lookUp()
{
    m_lookedUp = true;
    for (auto& r : m_receivers)
        r->device->BitBtn2Click();
    tellMalformed();
}

void ReceiverSet::tellMalformed()
{
    const QStringList texts = std::exchange(m_malformed, {});
    for (const QString& text : texts)
        m_ui.showInfo(text);
}

void ReceiverSet::callList(const TCallList& calls)
{
    // Ages are kept without receivers too: one added later sees how long
    // the calls have waited.
    m_listSeen = true;
    m_ages.seen(calls, m_clock.nowMs());
    for (auto& r : m_receivers)
        decide(*r, true);
}

// A list decides both ways, as it does for the primary; the age timer can
// only bring a receiver in.
void ReceiverSet::decide(Receiver& r, bool fromList)
{
    const qint64 now = m_clock.nowMs();
    const qint64 waitMs = 1000LL * r.line.seconds;
    bool due = false;
    qint64 next = -1;
    for (const WaitingCall& w : m_ages.waiting()) {
        if (!r.line.serves(w.resourceName, w.resourceId))
            continue;
        const qint64 at = w.sinceMs + waitMs;
        if (at <= now)
            due = true;
        else if (next < 0 || at < next)
            next = at;
    }
    if (next >= 0)
        r.ageTimer->start(int(next - now));
    else
        r.ageTimer->stop();
    if (due)
        r.activation->StartActivation();
    else if (fromList && (r.activation->active() || r.device->intent() != DeviceController::Intent::Off))
        r.activation->StopActivation();
}

void ReceiverSet::stopTimers()
{
    for (auto& r : m_receivers) {
        r->ageTimer->stop();
        r->activation->stopTimers();
    }
}

void ReceiverSet::flushIntents()
{
    for (auto& r : m_receivers)
        r->device->flushIntent();
}

std::vector<ReceiverSet::View> ReceiverSet::views() const
{
    std::vector<View> views;
    for (const auto& r : m_receivers)
        views.push_back({r->line.key, r->line.device, r->device->panelCaption(), r->device->panelGreen(), r->fault,
                         r->faultReason, r->activation->active()});
    return views;
}

const ReceiverLine& ReceiverSet::line(int index) const { return m_receivers.at(std::size_t(index))->line; }
DeviceController& ReceiverSet::device(int index) { return *m_receivers.at(std::size_t(index))->device; }
Activation& ReceiverSet::activation(int index) { return *m_receivers.at(std::size_t(index))->activation; }

} // namespace quvo
