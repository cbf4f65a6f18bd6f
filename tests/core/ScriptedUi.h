#pragma once
// Records everything the core says to the person; answers questions from a script.
#include "common/UserInterface.h"
#include "core/HardwareClient.h"
#include <QStringList>
#include <functional>

namespace quvo::test {

class ScriptedUi : public UserInterface {
public:
    QStringList infos, questions, statuses, titles, dialogs, balloons, devices, notices;
    QList<Indicator> indicators;
    QList<bool> answers;                                  // consumed in order; "no" when empty
    std::function<void(const QString&)> duringInfo;       // runs while a message is "open"
    std::vector<CallableItem> lastCallables;
    std::vector<int> lastStation;
    bool placePanel = false;
    bool dialogVisible = false;
    SettingsPage page = SettingsPage::ServerSettings;
    int minimized = 0;
    int nestedInfos = 0, maxNestedInfos = 0;

    void showBalloon(const QString& title, const QString& text, int, int, const BalloonTarget&) override
    {
        balloons << title + QStringLiteral(": ") + text;
    }
    void showSettingsDialog(SettingsPage p) override
    {
        page = p;
        dialogs << (p == SettingsPage::ServerSettings ? QStringLiteral("server") : QStringLiteral("client"));
    }

    // Records what the client announces, as the windows would show it.
    void follow(HardwareClient& c)
    {
        QObject::connect(&c, &HardwareClient::statusChanged, &c, [this](const QString& t) { statuses << t; });
        QObject::connect(&c, &HardwareClient::indicatorChanged, &c, [this](Indicator i) { indicators << i; });
        QObject::connect(&c, &HardwareClient::windowTitleChanged, &c, [this](const QString& t) { titles << t; });
        QObject::connect(&c, &HardwareClient::deviceStatusChanged, &c, [this](const QString& caption, Indicator i) {
            devices << caption + (i == Indicator::Green ? QStringLiteral("/green") : QStringLiteral("/red"));
        });
        QObject::connect(&c, &HardwareClient::minimizeWanted, &c, [this] { ++minimized; });
        QObject::connect(&c, &HardwareClient::settingsTabsWanted, &c, [this](SettingsPage p) { page = p; });
        QObject::connect(&c, &HardwareClient::settingsClientPageWanted, &c, [this] {
            if (dialogVisible)
                page = SettingsPage::ClientSettings;
        });
        QObject::connect(&c, &HardwareClient::placePanelWanted, &c, [this](bool v) { placePanel = v; });
        QObject::connect(&c, &HardwareClient::callablesLoaded, &c,
                         [this](const std::vector<CallableItem>& r) { lastCallables = r; });
        QObject::connect(&c, &HardwareClient::stationCallablesLoaded, &c,
                         [this](const std::vector<int>& ids) { lastStation = ids; });
        QObject::connect(&c, &HardwareClient::notice, &c, [this](const QString& text, bool warning) {
            notices << (warning ? QStringLiteral("!") : QString()) + text;
        });
    }

    QString lastStatus() const { return statuses.isEmpty() ? QString() : statuses.last(); }
    Indicator lastIndicator() const { return indicators.isEmpty() ? Indicator::Red : indicators.last(); }

protected:
    void openInfo(const QString& text) override
    {
        infos << text;
        ++nestedInfos;
        maxNestedInfos = std::max(maxNestedInfos, nestedInfos);
        if (duringInfo)
            duringInfo(text);
        --nestedInfos;
    }
    bool openQuestion(const QString& text) override
    {
        questions << text;
        return answers.isEmpty() ? false : answers.takeFirst();
    }
};

} // namespace quvo::test
