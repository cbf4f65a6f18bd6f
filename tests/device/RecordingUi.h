#pragma once
// Front end for tests: records what the device code tells the person.
#include "common/UserInterface.h"

#include <QList>
#include <QPair>
#include <QStringList>

class RecordingUi : public quvo::SilentUserInterface {
public:
    QStringList infos;
    QStringList balloons;                 // "<kind> <text>"
    QList<QPair<QString, quvo::Indicator>> deviceStatus;
    QList<bool> faults;

    void showInfo(const QString& text) override { infos << text; }
    void showBalloon(const QString&, const QString& text, int kind, int, const quvo::BalloonTarget&) override
    {
        balloons << QString::number(kind) + QLatin1Char(' ') + text;
    }
    void setDeviceStatus(const QString& caption, quvo::Indicator colour) override
    {
        deviceStatus.append({caption, colour});
    }
    void setDeviceFault(bool fault, const QString&) override { faults << fault; }
};
