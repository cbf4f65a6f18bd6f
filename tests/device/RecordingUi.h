#pragma once
// Front end for tests: records what the device code tells the person.
#include "common/UserInterface.h"

#include <QList>
#include <QPair>
#include <QStringList>

class RecordingUi : public quvo::SilentUserInterface {
public:
    QStringList infos;
    QStringList notices;                  // "!" before a warning
    QList<QPair<QString, quvo::Indicator>> deviceStatus;

    void showInfo(const QString& text) override { infos << text; }
    void showNotice(const QString& text, bool warning) override
    {
        notices << (warning ? QStringLiteral("! ") : QString()) + text;
    }
    void setDeviceStatus(const QString& caption, quvo::Indicator colour) override
    {
        deviceStatus.append({caption, colour});
    }
};
