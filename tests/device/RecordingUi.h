#pragma once
// Front end for tests: records what the device code tells the person.
#include "common/UserInterface.h"
#include "device/DeviceController.h"

#include <QList>
#include <QPair>
#include <QStringList>

class RecordingUi : public quvo::SilentUserInterface {
public:
    QStringList infos;
    QStringList notices;                  // "!" before a warning
    QList<QPair<QString, quvo::Indicator>> deviceStatus;

    void follow(quvo::DeviceController& device)
    {
        QObject::connect(&device, &quvo::DeviceController::notice, &device, [this](const QString& text, bool warning) {
            notices << (warning ? QStringLiteral("! ") : QString()) + text;
        });
        QObject::connect(&device, &quvo::DeviceController::statusChanged, &device,
                         [this](const QString& caption, quvo::Indicator colour) { deviceStatus.append({caption, colour}); });
    }

protected:
    void openInfo(const QString& text) override { infos << text; }
};
