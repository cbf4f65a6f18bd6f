#pragma once
// The front end of a box without a screen: every message is one line on
// standard error, every question is answered "no". Under systemd the lines
// carry their journal priority and the status goes to the service manager.
#include "app/ServiceNotifier.h"
#include "common/UserInterface.h"
#include <QTextStream>

namespace quvo {

class HardwareClient;

class HeadlessUi : public UserInterface {
public:
    HeadlessUi();
    void showBalloon(const QString& title, const QString& text, int kind, int hideAfterMs,
                     const BalloonTarget& target) override;
    void showSettingsDialog(SettingsPage page) override;

    // What the core announces becomes lines too.
    void follow(HardwareClient& client);
    void setStatusText(const QString& text);
    void setIndicator(Indicator colour);
    void setWindowTitle(const QString& title);
    // receiver: the device's name, when there are several.
    void setDeviceStatus(const QString& caption, Indicator colour, const QString& receiver = QString());
    void setPlacePanelVisible(bool visible);
    void updateProgress(qint64 bytes);
    void showNotice(const QString& text, bool warning);

    // The settings file that hints name: the user's file of this installation.
    void setSettingsFile(const QString& path) { m_settingsFile = path; }

    // Every line goes out here; priority: syslog's, for the journal prefix.
    enum Priority { Error = 3, Warning = 4, Info = 6 };
    void log(const QString& kind, const QString& text, Priority priority = Info);
    ServiceNotifier& notifier() { return m_notifier; }
    // successorPid: the program started in this one's place, 0 if none.
    void quitStarted(qint64 successorPid);

protected:
    void openInfo(const QString& text) override;
    bool openQuestion(const QString& text) override;
    // A line on standard error keeps the whole text, however long.
    QString shownPart(const QString& text) const override { return text; }

private:
    // What a person does on a box without the settings dialog, for a text
    // that sends them to it; empty for other texts.
    QString hintFor(const QString& text) const;

    QTextStream m_err;
    QString m_settingsFile;
    ServiceNotifier m_notifier;
    bool m_journal = false;
    QString m_lastFault;           // the fault status last logged as a warning, digits left out
    bool m_quitting = false;
    Indicator m_indicator = Indicator::Red;
    bool m_indicatorKnown = false;
    QString m_title;
    int m_countdownShown = -1;     // seconds of the countdown line last written
};

int runHeadless(int argc, char** argv);

} // namespace quvo
