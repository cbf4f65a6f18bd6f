#pragma once
// Passes everything on to the front end, but never opens a message whose
// text is already open: a server repeating an error must not nest boxes.
#include "common/UserInterface.h"
#include <QSet>

namespace quvo {

class GuardedUserInterface : public UserInterface {
public:
    explicit GuardedUserInterface(UserInterface& inner) : m_inner(inner) {}
    UserInterface& inner() { return m_inner; }

    void showInfo(const QString& text) override;
    bool askYesNo(const QString& text) override;
    void showBalloon(const QString& title, const QString& text, int kind, int hideAfterMs,
                     const BalloonTarget& target) override
    { m_inner.showBalloon(title, text, kind, hideAfterMs, target); }
    void setStatusText(const QString& text) override { m_inner.setStatusText(text); }
    void setIndicator(Indicator colour) override { m_inner.setIndicator(colour); }
    void setWindowTitle(const QString& title) override { m_inner.setWindowTitle(title); }
    void setDeviceStatus(const QString& caption, Indicator colour) override { m_inner.setDeviceStatus(caption, colour); }
    void minimizeWindow() override { m_inner.minimizeWindow(); }
    void requestQuit() override { m_inner.requestQuit(); }
    bool settingsDialogVisible() const override { return m_inner.settingsDialogVisible(); }
    SettingsPage settingsDialogPage() const override { return m_inner.settingsDialogPage(); }
    void setSettingsTabs(SettingsPage page) override { m_inner.setSettingsTabs(page); }
    void showSettingsDialog(SettingsPage page) override { m_inner.showSettingsDialog(page); }
    void setPlacePanelVisible(bool visible) override { m_inner.setPlacePanelVisible(visible); }
    void loadAllCallables(const std::vector<CallableItem>& records) override { m_inner.loadAllCallables(records); }
    void selectStationCallables(const std::vector<int>& ids) override { m_inner.selectStationCallables(ids); }
    void updateProgress(qint64 bytes) override { m_inner.updateProgress(bytes); }
    void showNotice(const QString& text, bool warning) override { m_inner.showNotice(text, warning); }

private:
    UserInterface& m_inner;
    QSet<QString> m_open;
};

} // namespace quvo
