#pragma once
// Front end for tests: records what the device code tells the person.
#include "common/UserInterface.h"

#include <QList>
#include <QPair>
#include <QStringList>

class RecordingUi : public quvo::UserInterface {
public:
    QStringList infos;
    QList<QPair<QString, quvo::Indicator>> deviceStatus;

    void showInfo(const QString& text) override { infos << text; }
    bool askYesNo(const QString&) override { return false; }
    void showBalloon(const QString&, const QString&, int, int, const quvo::BalloonTarget&) override {}
    void setStatusText(const QString&) override {}
    void setIndicator(quvo::Indicator) override {}
    void setWindowTitle(const QString&) override {}
    void setDeviceStatus(const QString& caption, quvo::Indicator colour) override
    {
        deviceStatus.append({caption, colour});
    }
    void minimizeWindow() override {}
    void requestQuit() override {}
    bool settingsDialogVisible() const override { return false; }
    quvo::SettingsPage settingsDialogPage() const override { return quvo::SettingsPage::ServerSettings; }
    void setSettingsTabs(quvo::SettingsPage) override {}
    void showSettingsDialog(quvo::SettingsPage) override {}
    void setPlacePanelVisible(bool) override {}
    void loadAllCallables(const std::vector<quvo::CallableItem>&) override {}
    void selectStationCallables(const std::vector<int>&) override {}
};
