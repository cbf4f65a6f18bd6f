#pragma once
// Where the simulator's commands come from: lines typed on stdin, and a
// scenario file of "<milliseconds-from-start> <command>" lines.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace quvo::sim {

class CommandInput : public QObject {
    Q_OBJECT
public:
    explicit CommandInput(QObject* parent = nullptr);

    // Reads the whole scenario now, so a bad file stops the program at once.
    bool loadScenario(const QString& path, QString* error);
    void startStdin();
    void startScenario();

signals:
    void line(const QString& command);
    void scenarioFinished();

private:
    void readStdin();

    struct Step {
        int atMs = 0;
        QString command;
    };
    QList<Step> m_steps;
    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_pending;
};

} // namespace quvo::sim
