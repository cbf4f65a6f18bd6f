#pragma once
// Values the whole program shares, one instance each, owned by the application.
#include "common/CommandLine.h"
#include "common/DataModel.h"
#include "common/Paths.h"
#include <QString>
#include <functional>

namespace quvo {

struct ProgramState {
    TQUVOClientType ProgramType = ctHardware;
    TQUVOClientData ClientData;
    bool HasBeenConnected = false;
    bool UpdateCheckPending = true;
    QString ServerVersionText;
    QString UpdateServerVersionText;
    std::function<void(bool reconnect)> ServerConnectHook;
    ProgramPaths paths;
    CommandLine commandLine;
    // Switches that chose the front end ("--headless"); not part of the
    // parameters, but a restarted program needs them too.
    QStringList frontEndSwitches;
    QString programFilePath;     // the running program file
};

// The first server version that answers GETSTATIONCALLABLES. The test is a
// plain comparison of character codes, so "1.10.10" counts as older.
inline constexpr const char* kFirstStationCallablesVersion = "1.10.4";

inline bool isCurrentServer(const QString& versionText)
{
    return QString::compare(versionText, QLatin1String(kFirstStationCallablesVersion), Qt::CaseSensitive) >= 0;
}

} // namespace quvo
