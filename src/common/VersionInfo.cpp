#include "common/VersionInfo.h"

#include "BuildVersion.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace quvo {

namespace {

// A block larger than this is not ours; the scan stops there instead of
// wandering through the rest of the file.
constexpr qsizetype kMaxBlockBytes = 16 * 1024;

// Separate arrays so that no constant of this file holds a whole marker.
const char kMarkerHead[] = "@@QUVO_VERSION_";
const char kBeginTail[] = "BLOCK_BEGIN@@";
const char kEndTail[] = "BLOCK_END@@";

using Entries = QHash<QByteArray, QByteArray>;

// Reads the entries that follow a begin marker at data[pos..]; false when the
// block is cut short, malformed or has no end marker within its bound.
bool parseBlock(QByteArrayView data, qsizetype pos, const QByteArray& endMarker, Entries& out)
{
    if (pos >= data.size() || data.at(pos) != '\0')
        return false;
    ++pos;
    const qsizetype limit = std::min(data.size(), pos + kMaxBlockBytes);
    while (pos < limit) {
        const QByteArrayView rest = data.sliced(pos, limit - pos);
        const qsizetype zero = rest.indexOf('\0');
        if (zero < 0)
            return false;
        const QByteArrayView entry = rest.first(zero);
        pos += zero + 1;
        if (entry == endMarker)
            return true;
        const qsizetype eq = entry.indexOf('=');
        if (eq <= 0)
            return false;
        const QByteArray key = entry.first(eq).toByteArray();
        if (!out.contains(key))
            out.insert(key, entry.sliced(eq + 1).toByteArray());
    }
    return false;
}

bool findBlock(QByteArrayView data, Entries& out)
{
    const QByteArray begin = versionBlockBeginMarker();
    const QByteArray end = versionBlockEndMarker();
    for (qsizetype at = data.indexOf(begin); at >= 0; at = data.indexOf(begin, at + 1)) {
        out.clear();
        if (parseBlock(data, at + begin.size(), end, out))
            return true;
    }
    out.clear();
    return false;
}

bool readBlockFromFile(const QString& fileName, Entries& out)
{
    // Regular files only: a device or a pipe could be endless.
    const QFileInfo info(fileName);
    if (fileName.isEmpty() || !info.isFile())
        return false;
    QFile file(info.absoluteFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (size <= 0)
        return false;
    if (const uchar* mapped = file.map(0, size)) {
        const bool found = findBlock(QByteArrayView(mapped, qsizetype(size)), out);
        file.unmap(const_cast<uchar*>(mapped));
        return found;
    }
    const QByteArray all = file.readAll();
    return findBlock(all, out);
}

QString runningProgramFile()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

} // namespace

QByteArray versionBlockBeginMarker()
{
    return QByteArray(kMarkerHead) + QByteArray(kBeginTail);
}

QByteArray versionBlockEndMarker()
{
    return QByteArray(kMarkerHead) + QByteArray(kEndTail);
}

QByteArray makeVersionBlock(const QList<QPair<QByteArray, QByteArray>>& entries)
{
    QByteArray block = versionBlockBeginMarker();
    block.append('\0');
    for (const auto& [key, value] : entries) {
        block.append(key).append('=').append(value);
        block.append('\0');
    }
    block.append(versionBlockEndMarker());
    block.append('\0');
    return block;
}

TCEVersionInfo::TCEVersionInfo()
{
    GetInfo(runningProgramFile());
}

TCEVersionInfo::TCEVersionInfo(const QString& fileName)
{
    GetInfo(fileName);
}

void TCEVersionInfo::GetInfo(const QString& fileName)
{
    Entries entries;
    valid = readBlockFromFile(fileName, entries);
    if (!valid) {
        const QString na = QString::fromLatin1(kInfoNotAvailable);
        for (QString* field : {&CompanyName, &FileDescription, &FileVersion, &Internalname, &LegalCopyright,
                               &LegalTradeMarks, &OriginalFilename, &ProductName, &ProductVersion, &Comments,
                               &MajorVersion, &MinorVersion, &Release, &Build})
            *field = na;
        SpecialBuild.clear();
        return;
    }

    const auto text = [&entries](const char* key) {
        return QString::fromUtf8(entries.value(QByteArray(key)));
    };
    CompanyName = text("CompanyName");
    FileDescription = text("FileDescription");
    FileVersion = text("FileVersion");
    Internalname = text("InternalName");
    LegalCopyright = text("LegalCopyright");
    LegalTradeMarks = text("LegalTradeMarks");
    OriginalFilename = text("OriginalFilename");
    ProductName = text("ProductName");
    ProductVersion = text("ProductVersion");
    Comments = text("Comments");
    SpecialBuild = text("SpecialBuild");

    QChar separator;
    if (FileVersion.contains(u'.'))
        separator = u'.';
    else if (FileVersion.contains(u','))
        separator = u',';
    if (separator.isNull()) {
        const QString na = QString::fromLatin1(kInfoNotAvailable);
        MajorVersion = MinorVersion = Release = Build = na;
        return;
    }
    // A stage without a separator leaves its field empty and the rest as it
    // was: "1.2" gives 1, "", "" and 2.
    QString rest = FileVersion;
    for (QString* field : {&MajorVersion, &MinorVersion, &Release}) {
        const qsizetype at = rest.indexOf(separator);
        if (at < 0) {
            field->clear();
            continue;
        }
        *field = rest.left(at);
        rest = rest.mid(at + 1);
    }
    Build = rest;
}

int VersionNumber(const QString& versionText)
{
    QString digits = versionText;
    digits.remove(u'.');
    bool ok = false;
    const int number = digits.toInt(&ok, 10);
    return ok ? number : 1000;
}

QString buildProductVersion()
{
    return QStringLiteral(QUVO_PRODUCT_VERSION);
}

} // namespace quvo
