#include "common/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include <stdexcept>

namespace quvo {

namespace {
bool isSeparator(QChar c) { return c == u'/' || c == u'\\'; }
} // namespace

ProgramPaths InitPaths()
{
    ProgramPaths paths;

    const QString cwd = QDir::currentPath();
    // The directory's own spelling on disk, symbolic links resolved, so that
    // every way of reaching the folder gives the same settings key.
    const QString canonical = cwd.isEmpty() ? QString() : QFileInfo(cwd).canonicalFilePath();
    if (canonical.isEmpty())
        throw std::runtime_error("Unable to get Current path");
    paths.ProgramFolder = canonical.endsWith(u'/') ? canonical : canonical + u'/';
    paths.SettingsFolderKey = settingsKeyFromFolder(paths.ProgramFolder);

    const QString dataDir = GetSpecialFolderPath();
    if (!dataDir.isEmpty()) {
        const QString folder = QDir::cleanPath(dataDir + QStringLiteral("/Veltaris/QUVO")) + u'/';
        if (QDir().mkpath(folder) && QFileInfo(folder).isDir())
            paths.UpdateFolder = folder;
    }
    return paths;
}

QString settingsKeyFromFolder(const QString& programFolder)
{
    QString key = programFolder;
    // Only a trailing separator that ends a longer path goes: the root folder
    // "/" keeps its one separator, which then becomes "_" like every other
    // one. So the leading '/' of an absolute path maps to a leading "_":
    // "/opt/QUVO app/" gives "_opt_QUVO_app/", "/" gives "_/".
    if (key.size() > 1 && isSeparator(key.back()))
        key.chop(1);
    QString out;
    out.reserve(key.size() + 1);
    for (const QChar c : std::as_const(key)) {
        if (c == u':')
            continue;
        out.append(c == u' ' || isSeparator(c) ? QChar(u'_') : c);
    }
    out.append(u'/');
    return out;
}

QString GetSpecialFolderPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

bool IsNumericAddress(const QString& text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() < 4)
        return false;
    for (qsizetype i = 0; i < 4; ++i) {
        const QString& part = parts.at(i);
        // Digits only: no sign, no blanks, nothing the integer reader would
        // quietly accept.
        if (part.isEmpty())
            return false;
        int value = 0;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9')
                return false;
            value = value * 10 + (c.unicode() - u'0');
            if (value > 255)   // leading zeros are fine, "0010" is 10
                return false;
        }
    }
    return true;
}

} // namespace quvo
