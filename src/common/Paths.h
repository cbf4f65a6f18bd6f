#pragma once
#include <QString>

namespace quvo {

struct ProgramPaths {
    QString ProgramFolder;      // working directory with a trailing '/'
    QString SettingsFolderKey;  // ProgramFolder as one key name, trailing '/'
    QString UpdateFolder;       // $XDG_DATA_HOME/Veltaris/QUVO/, empty on failure
};

// Throws std::runtime_error("Unable to get Current path") when there is none.
ProgramPaths InitPaths();
QString settingsKeyFromFolder(const QString& programFolder);
// The per-user application-data folder (GenericDataLocation).
QString GetSpecialFolderPath();

bool IsNumericAddress(const QString& text);

} // namespace quvo
