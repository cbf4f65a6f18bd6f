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
// everything asked and its answers have been delivered.
#include "RecordingUi.h"
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
    qint64 ms = 0;
    bool on = false;
    int id = 0;
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
        device = std::make_unique<quvo::DeviceController>(telldus, settings, ui);
        ui.follow(*device);
        activation = std::make_unique<quvo::Activation>(*device, settings);
    }

    QString logPath() const { return dir.filePath(QStringLiteral("telldus.log")); }
    QString controlPath() const { return dir.filePath(QStringLiteral("telldus.control")); }

    // "FAIL=notfound", "STALL_MS=9500"; empty: no fault.
    void setFault(const QByteArray& line)
    {
        QFile file(controlPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(line + '\n');
    }

    void settle() { ::settle(telldus); }

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
        settle();
        QVector<SentCommand> out;
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 3)
                continue;
            out.append({parts[0].toLongLong(), parts[1] == "ON", parts[2].toInt()});
        }
        return out;
    }

    void appendToLog(const QByteArray& lines)
    {
        QFile file(logPath());
        QVERIFY(file.open(QIODevice::Append));
        file.write(lines);
    }

    QTemporaryDir dir;
    RecordingUi ui;
    quvo::SettingsStore settings;
    quvo::TelldusWorker telldus;
    std::unique_ptr<quvo::DeviceController> device;
    std::unique_ptr<quvo::Activation> activation;
};
