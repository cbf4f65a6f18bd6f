#include "app/HeadlessUi.h"

#include "app/SignalQuit.h"
#include "core/HardwareClient.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>
#include <exception>

namespace quvo {

namespace {
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}
QString pageName(SettingsPage page)
{
    return page == SettingsPage::ServerSettings ? QStringLiteral("serverinställningar") : QStringLiteral("klientinställningar");
}
QString colourName(Indicator c) { return c == Indicator::Green ? QStringLiteral("grön") : QStringLiteral("röd"); }
} // namespace

HeadlessUi::HeadlessUi() : m_err(stderr) {}

void HeadlessUi::log(const QString& kind, const QString& text)
{
    m_err << QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz")) << ' ' << kind << ": "
          << oneLine(text) << Qt::endl;
}

void HeadlessUi::showInfo(const QString& text) { log(QStringLiteral("INFO"), text); }

bool HeadlessUi::askYesNo(const QString& text)
{
    log(QStringLiteral("FRÅGA"), text + QStringLiteral(" -> Nej"));
    return false;
}

void HeadlessUi::showBalloon(const QString& title, const QString& text, int, int, const BalloonTarget&)
{
    log(QStringLiteral("BALLONG"), title + QStringLiteral(": ") + text);
}

void HeadlessUi::setStatusText(const QString& text) { log(QStringLiteral("STATUS"), text); }

void HeadlessUi::setIndicator(Indicator colour)
{
    if (m_indicatorKnown && m_indicator == colour)
        return;
    m_indicatorKnown = true;
    m_indicator = colour;
    log(QStringLiteral("ANSLUTNING"), colourName(colour));
}

void HeadlessUi::setWindowTitle(const QString& title) { log(QStringLiteral("TITEL"), title); }

void HeadlessUi::setDeviceStatus(const QString& caption, Indicator colour)
{
    log(QStringLiteral("ENHET"), (caption.isEmpty() ? QStringLiteral("-") : caption) + QStringLiteral(" (")
                                     + colourName(colour) + QStringLiteral(")"));
}

void HeadlessUi::setSettingsTabs(SettingsPage page) { m_page = page; }

void HeadlessUi::showSettingsDialog(SettingsPage page)
{
    m_page = page;
    log(QStringLiteral("SYSTEMREGISTER"), QStringLiteral("skulle öppnas på sidan ") + pageName(page)
                                              + QStringLiteral(" (inget fönster i huvudlöst läge)"));
}

void HeadlessUi::setPlacePanelVisible(bool visible)
{
    if (visible)
        log(QStringLiteral("SYSTEMREGISTER"), QStringLiteral("plats och färg behöver fyllas i"));
}

void HeadlessUi::loadAllCallables(const std::vector<CallableItem>&) {}
void HeadlessUi::selectStationCallables(const std::vector<int>&) {}

void HeadlessUi::updateProgress(qint64 bytes)
{
    log(QStringLiteral("UPPDATERING"), QStringLiteral("%1 byte mottagna").arg(bytes));
}

int runHeadless(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("QUVO Windows HardwareClient for TellStick"));
    QStringList params = app.arguments().mid(1);
    params.removeAll(QStringLiteral("--headless"));

    HeadlessUi ui;
    HardwareClient client(ui, params);
    installQuitSignals(&client, [&client] { client.quit(); });
    try {
        client.FormCreate();
    } catch (const std::exception& e) {
        ui.log(QStringLiteral("FEL"), QString::fromLocal8Bit(e.what()));
        return 1;
    }
    QMetaObject::invokeMethod(&client, [&client] { client.FormActivate(); }, Qt::QueuedConnection);
    app.exec();
    return 1;
}

} // namespace quvo
