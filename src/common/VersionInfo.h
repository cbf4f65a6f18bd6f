#pragma once
// Reads the version block that the build embeds into each executable.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace quvo {

inline constexpr const char* kInfoNotAvailable = "<info not available>";

class TCEVersionInfo {
public:
    TCEVersionInfo();                       // reads the running program file
    explicit TCEVersionInfo(const QString& fileName);
    void GetInfo(const QString& fileName);

    QString CompanyName, FileDescription, FileVersion, Internalname, LegalCopyright,
        LegalTradeMarks, OriginalFilename, ProductName, ProductVersion, Comments,
        MajorVersion, MinorVersion, Release, Build, SpecialBuild;
    bool valid = false;   // a block was found and read
};

// Version text with the dots removed as an integer; 1000 when unreadable.
int VersionNumber(const QString& versionText);

// The product version of this build ("1.10.4").
QString buildProductVersion();

// Layout of the embedded block: the begin marker, '\0', then "Key=Value\0"
// entries (UTF-8), then the end marker and '\0'. The markers are put together
// at run time so that the reader's own code never holds them whole.
QByteArray versionBlockBeginMarker();
QByteArray versionBlockEndMarker();
QByteArray makeVersionBlock(const QList<QPair<QByteArray, QByteArray>>& entries);

} // namespace quvo
