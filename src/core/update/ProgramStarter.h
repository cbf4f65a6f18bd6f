#pragma once
// Which version this program is and which one is wanted, whether a program
// file may run in its place, and starting it: this instance ends only once
// the started one has stayed up for a while.
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

namespace quvo {

struct ProgramState;
class SettingsStore;

class ProgramStarter : public QObject {
    Q_OBJECT
public:
    ProgramStarter(ProgramState& state, SettingsStore& settings, QObject* parent = nullptr);

    QString programFile() const;
    QString programFileName() const;
    QString updateCopy() const;
    int ownVersion() const;
    // The wanted version as the settings give it; the own one when they give none.
    int wantedVersion(int own) const;
    // A copy already in the update folder is started only at the wanted version.
    bool waitingCopyFits(int wanted) const;
    // Why a fetched file is not started; empty when it may be.
    QString refusal(const QString& path, int wanted) const;

    bool start(const QString& path);
    void stop();
    void reset();
    void setWatch(int ms) { m_watchMs = ms; }
    qint64 pid() const { return m_pid; }
    // Starts tried since construction, whatever came of them.
    int attempts() const { return m_attempts; }
    QString path() const { return m_path; }

signals:
    void stayedUp();
    void ended();

private:
    void tick();

    ProgramState& m_state;
    SettingsStore& m_settings;
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_watchMs = 3000;
    qint64 m_pid = 0;
    int m_attempts = 0;
    QString m_path;
};

} // namespace quvo
