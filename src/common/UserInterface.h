#pragma once
// Everything the program says to a person or asks of one goes through here.
// Desktop, headless and test front ends implement it; the core never sees a
// widget.
#include <QPoint>
#include <QString>
#include <vector>

namespace quvo {

enum class SettingsPage { ServerSettings, ClientSettings };

enum class Indicator { Red, Green };

// Where a balloon points: a named control's lower middle, or a screen point.
struct BalloonTarget {
    QString control;      // empty: use point
    QPoint point;
};

struct CallableItem { QString name; int id = 0; QString activeFlag; };

class UserInterface {
public:
    virtual ~UserInterface() = default;

    // Modal; return when the person has closed them. Lone '\r' breaks lines.
    virtual void showInfo(const QString& text) = 0;
    virtual bool askYesNo(const QString& text) = 0;
    // kind: 1 error, 2 information, 3 question, otherwise information.
    virtual void showBalloon(const QString& title, const QString& text, int kind, int hideAfterMs,
                             const BalloonTarget& target) = 0;

    // Main window state.
    virtual void setStatusText(const QString& text) = 0;
    virtual void setIndicator(Indicator colour) = 0;
    virtual void setWindowTitle(const QString& title) = 0;
    virtual void setDeviceStatus(const QString& caption, Indicator colour) = 0;
    virtual void minimizeWindow() = 0;
    // Ask the front end to run its quit path (closing windows etc.).
    virtual void requestQuit() = 0;

    // Settings dialog as the core needs it.
    virtual bool settingsDialogVisible() const = 0;
    virtual SettingsPage settingsDialogPage() const = 0;
    virtual void setSettingsTabs(SettingsPage page) = 0;          // SetTabs
    virtual void showSettingsDialog(SettingsPage page) = 0;       // SetTabs, then modal unless visible
    virtual void setPlacePanelVisible(bool visible) = 0;          // pnlPlats
    virtual void loadAllCallables(const std::vector<CallableItem>& records) = 0;
    virtual void selectStationCallables(const std::vector<int>& ids) = 0;

    // Download progress of the self-update, in bytes received.
    virtual void updateProgress(qint64 bytes) { Q_UNUSED(bytes); }
    // A notice for whoever glances at the program, without stopping it: the
    // tray's message on the desktop, a line headless.
    virtual void showNotice(const QString& text, bool warning) { Q_UNUSED(text); Q_UNUSED(warning); }
};

} // namespace quvo

namespace quvo {

// Says nothing and answers every question "no"; a base for front ends that
// only care about some of the operations (tests, benchmarks).
class SilentUserInterface : public UserInterface {
public:
    void showInfo(const QString&) override {}
    bool askYesNo(const QString&) override { return false; }
    void showBalloon(const QString&, const QString&, int, int, const BalloonTarget&) override {}
    void setStatusText(const QString&) override {}
    void setIndicator(Indicator) override {}
    void setWindowTitle(const QString&) override {}
    void setDeviceStatus(const QString&, Indicator) override {}
    void minimizeWindow() override {}
    void requestQuit() override {}
    bool settingsDialogVisible() const override { return false; }
    SettingsPage settingsDialogPage() const override { return SettingsPage::ServerSettings; }
    void setSettingsTabs(SettingsPage) override {}
    void showSettingsDialog(SettingsPage) override {}
    void setPlacePanelVisible(bool) override {}
    void loadAllCallables(const std::vector<CallableItem>&) override {}
    void selectStationCallables(const std::vector<int>&) override {}
};

} // namespace quvo
