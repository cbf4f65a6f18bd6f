#include "core/update/UpdateFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace quvo {

namespace {

// Without this a crash or power cut soon after the rename can leave a short
// or empty file under the program's name.
bool syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// A download that stopped with its process (a crash, a power cut) leaves its
// temporary file. One untouched this long belongs to no running download:
// each is bounded by its wait for the file.
constexpr qint64 kStaleAfterSecs = 60 * 60;

void removeStale(const QString& folder, const QString& fileName)
{
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-kStaleAfterSecs);
    QDir dir(folder);
    const QStringList names =
        dir.entryList({fileName + QStringLiteral(".??????.part")}, QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        if (QFileInfo(dir.filePath(name)).lastModified().toUTC() < before)
            dir.remove(name);
    }
}

} // namespace

UpdateFile::UpdateFile() = default;
UpdateFile::~UpdateFile() = default;

bool UpdateFile::begin(const QString& folder, const QString& fileName)
{
    drop();
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return false;
    removeStale(folder, fileName);
    m_file = std::make_unique<QTemporaryFile>(folder + fileName + QStringLiteral(".XXXXXX.part"));
    if (!m_file->open()) {
        m_file.reset();
        return false;
    }
    return true;
}

bool UpdateFile::write(const QByteArray& bytes)
{
    return m_file && m_file->write(bytes) == bytes.size();
}

qint64 UpdateFile::size() const
{
    return m_file ? m_file->pos() : 0;
}

QString UpdateFile::complete()
{
    if (!m_file || !m_file->flush() || ::fsync(m_file->handle()) != 0)
        return QString();
    const QString path = m_file->fileName();
    m_file->close();
    return path;
}

bool UpdateFile::install(const QString& target)
{
    if (!m_file)
        return false;
    const QString temp = m_file->fileName();
    if (!QFile::setPermissions(temp, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                         | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther)
        || std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) != 0) {
        drop();
        return false;
    }
    m_file->setAutoRemove(false);
    m_file.reset();
    // The file is in place; a rename not yet on the disk is at worst redone
    // by the next check.
    syncFolder(QFileInfo(target).absolutePath());
    return true;
}

void UpdateFile::drop()
{
    // The temporary file goes with its object; the copy in place stays.
    m_file.reset();
}

} // namespace quvo
