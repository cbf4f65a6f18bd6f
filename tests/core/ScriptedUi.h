#pragma once
// Records everything the core says to the person; answers questions from a script.
#include "common/UserInterface.h"
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

    void showInfo(const QString& text) override
    {
        infos << text;
        ++nestedInfos;
        maxNestedInfos = std::max(maxNestedInfos, nestedInfos);
        if (duringInfo)
            duringInfo(text);
        --nestedInfos;
    }
    bool askYesNo(const QString& text) override
    {
        questions << text;
        return answers.isEmpty() ? false : answers.takeFirst();
    }
    void showBalloon(const QString& title, const QString& text, int, int, const BalloonTarget&) override
    {
        balloons << title + QStringLiteral(": ") + text;
    }
    void setStatusText(const QString& text) override { statuses << text; }
    void setIndicator(Indicator c) override { indicators << c; }
    void setWindowTitle(const QString& t) override { titles << t; }
    void setDeviceStatus(const QString& caption, Indicator c) override
    {
        devices << caption + (c == Indicator::Green ? QStringLiteral("/green") : QStringLiteral("/red"));
    }
    void minimizeWindow() override { ++minimized; }
    void requestQuit() override {}
    bool settingsDialogVisible() const override { return dialogVisible; }
    SettingsPage settingsDialogPage() const override { return page; }
    void setSettingsTabs(SettingsPage p) override { page = p; }
    void showSettingsDialog(SettingsPage p) override
    {
        page = p;
        dialogs << (p == SettingsPage::ServerSettings ? QStringLiteral("server") : QStringLiteral("client"));
    }
    void setPlacePanelVisible(bool v) override { placePanel = v; }
    void loadAllCallables(const std::vector<CallableItem>& r) override { lastCallables = r; }
    void selectStationCallables(const std::vector<int>& ids) override { lastStation = ids; }
    void showNotice(const QString& text, bool warning) override
    {
        notices << (warning ? QStringLiteral("!") : QString()) + text;
    }

    QString lastStatus() const { return statuses.isEmpty() ? QString() : statuses.last(); }
    Indicator lastIndicator() const { return indicators.isEmpty() ? Indicator::Red : indicators.last(); }
};

} // namespace quvo::test
