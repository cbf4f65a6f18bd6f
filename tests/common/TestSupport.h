#pragma once
// Fakes shared by the common tests.
#include "common/ServerIniLink.h"
#include "common/UserInterface.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <functional>

namespace quvo::test {

// The main connection as the settings store sees it.
class FakeIniLink : public ServerIniLink {
public:
    bool up = true;
    QList<QByteArray> frames;
    std::function<void(const QByteArray&)> onFrame;

    bool isConnectionUp() const override { return up; }
    void sendFrame(const QByteArray& wireBytes) override
    {
        frames.append(wireBytes);
        if (onFrame)
            onFrame(wireBytes);
    }
};

// Records what would have been shown; questions are answered from a list.
class RecordingUi : public SilentUserInterface {
public:
    QStringList infos;
    QList<bool> answers;

protected:
    void openInfo(const QString& text) override { infos.append(text); }
    bool openQuestion(const QString& text) override
    {
        infos.append(text);
        return answers.isEmpty() ? false : answers.takeFirst();
    }
};

} // namespace quvo::test

int runBasicsTests(int argc, char** argv);
int runSettingsTests(int argc, char** argv);
int runIdentityTests(int argc, char** argv);
int runVersionTests(int argc, char** argv);
