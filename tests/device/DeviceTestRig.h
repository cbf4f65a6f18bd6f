#pragma once
// One controller and activation on the Telldus simulator, with settings and
// the simulator's command log in a temporary folder.
//
// The simulator reads TELLDUS_SIM_DEVICES and TELLDUS_SIM_LOG again at every
// tdInit (each lookup) and after tdClose (each rig's end), so every rig sees
// its own devices and log although the library stays loaded in the process.
// Its faults come from a control file in the same folder.
//
// The library runs on the worker's thread; settle() waits until it has done
// everything asked and its answers have been delivered. Time is the rig's
// manual clock: step() moves it on, and a command counts as sent at the
// clock's time when it was seen in the log.
#include "RecordingUi.h"
#include "common/Clock.h"
#include "common/SettingsStore.h"
#include "device/Activation.h"
#include "device/DeviceController.h"
#include "device/TelldusWorker.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>
#include <QTemporaryDir>
#include <QVector>
#include <memory>

struct SentCommand {
    qint64 ms = 0;       // the rig's clock
    bool on = false;
    int id = 0;
    qint64 wallMs = 0;   // as the simulator logged it
};

inline quvo::SettingsLocations locationsIn(const QTemporaryDir& dir)
{
    return quvo::SettingsLocations{dir.filePath(QStringLiteral("user")),
                                   dir.filePath(QStringLiteral("machine"))};
}

// Waits for the worker and delivers its answers, until both are quiet.
inline void settle(quvo::TelldusWorker& worker)
{
    for (int round = 0; round < 20; ++round) {
        QVERIFY(worker.waitForIdle(15000));
        QCoreApplication::sendPostedEvents();
        if (worker.waitForIdle(0)) {
            QCoreApplication::sendPostedEvents();
            if (worker.waitForIdle(0))
                return;
        }
    }
}

struct DeviceTestRig {
    explicit DeviceTestRig(const QByteArray& devices, const QByteArray& library = TELLDUS_SIM_PATH)
        : settings(locationsIn(dir))
    {
        qputenv("QUVO_TELLDUS_LIBRARY", library);
        qputenv("TELLDUS_SIM_DEVICES", devices);
        qputenv("TELLDUS_SIM_LOG", logPath().toLocal8Bit());
        qputenv("TELLDUS_SIM_CONTROL", controlPath().toLocal8Bit());
        qputenv("TELLDUS_SIM_RECEIVER", receiverPath().toLocal8Bit());
        device = std::make_unique<quvo::DeviceController>(telldus, settings, ui, clock);
        ui.follow(*device);
        activation = std::make_unique<quvo::Activation>(*device, settings, clock);
    }

    QString logPath() const { return dir.filePath(QStringLiteral("telldus.log")); }
    QString controlPath() const { return dir.filePath(QStringLiteral("telldus.control")); }
    QString receiverPath() const { return dir.filePath(QStringLiteral("receivers")); }

    // What the receiver behind the radio really is: "ON", "OFF", or empty
    // before it heard anything.
    QString receiver(int id) const
    {
        QFile file(receiverPath());
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 2 && parts[0].toInt() == id)
                return QString::fromLatin1(parts[1]);
        }
        return QString();
    }

    // "FAIL=notfound", "STALL_MS=9500"; empty: no fault.
    void setFault(const QByteArray& line)
    {
        QFile file(controlPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(line + '\n');
    }

    void settle() { ::settle(telldus); }

    // Moves the clock on by ms, one due timer at a time; the worker answers
    // each before the next fires, as it would in real time.
    void step(qint64 ms)
    {
        collect();
        for (qint64 next = clock.nextDueInMs(); next >= 0 && next <= ms; next = clock.nextDueInMs()) {
            clock.advance(next);
            ms -= next;
            collect();
        }
        clock.advance(ms);
        collect();
    }

    // Selects the device by name the way "Anslut" does.
    bool connectTo(const QString& name)
    {
        device->Edit1Change(name);
        device->BitBtn2Click();
        settle();
        return device->TellStickDeviceId() != 0;
    }

    QVector<SentCommand> sent()
    {
        collect();
        return m_sent;
    }

    void appendToLog(const QByteArray& lines)
    {
        QFile file(logPath());
        QVERIFY(file.open(QIODevice::Append));
        file.write(lines);
    }

    QTemporaryDir dir;
    quvo::ManualClock clock;
    RecordingUi ui;
    quvo::SettingsStore settings;
    quvo::TelldusWorker telldus;
    std::unique_ptr<quvo::DeviceController> device;
    std::unique_ptr<quvo::Activation> activation;

private:
    void collect()
    {
        settle();
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly))
            return;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (qsizetype i = m_linesSeen; i < lines.size(); ++i) {
            const QList<QByteArray> parts = lines[i].split(' ');
            if (parts.size() != 3)
                break; // the line being written, or the end
            m_sent.append({clock.nowMs(), parts[1] == "ON", parts[2].toInt(),
                           parts[0].toLongLong()});
            m_linesSeen = i + 1;
        }
    }

    QVector<SentCommand> m_sent;
    qsizetype m_linesSeen = 0;
};
