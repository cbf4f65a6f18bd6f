#pragma once
// The desktop front end: message boxes with Swedish captions, balloons, the
// status window and the settings dialog.
#include "common/UserInterface.h"
#include <QPointer>

class QWidget;

namespace quvo {

class TfrmQuvoHWMain;
class TfrmSystreg;

class DesktopUi : public UserInterface {
public:
    DesktopUi() = default;
    void setMainWindow(TfrmQuvoHWMain* window) { m_window = window; }
    TfrmQuvoHWMain* mainWindow() const { return m_window; }

    void showInfo(const QString& text) override;
    bool askYesNo(const QString& text) override;
    void showBalloon(const QString& title, const QString& text, int kind, int hideAfterMs,
                     const BalloonTarget& target) override;

    void setStatusText(const QString& text) override;
    void setIndicator(Indicator colour) override;
    void setWindowTitle(const QString& title) override;
    void setDeviceStatus(const QString& caption, Indicator colour) override;
    void minimizeWindow() override;
    void requestQuit() override;

    bool settingsDialogVisible() const override;
    SettingsPage settingsDialogPage() const override;
    void setSettingsTabs(SettingsPage page) override;
    void showSettingsDialog(SettingsPage page) override;
    void setPlacePanelVisible(bool visible) override;
    void loadAllCallables(const std::vector<CallableItem>& records) override;
    void selectStationCallables(const std::vector<int>& ids) override;
    void updateProgress(qint64 bytes) override;
    void showNotice(const QString& text, bool warning) override;

private:
    TfrmSystreg* dialog() const;
    QWidget* dialogParent() const;
    QWidget* findControl(const QString& name) const;

    QPointer<TfrmQuvoHWMain> m_window;
};

} // namespace quvo
