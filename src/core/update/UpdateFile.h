#pragma once
// The program file as it arrives: written to a temporary file beside its
// place and put in place by a rename, so the copy there is always whole.
#include <QByteArray>
#include <QString>
#include <memory>

class QTemporaryFile;

namespace quvo {

class UpdateFile {
public:
    UpdateFile();
    ~UpdateFile();
    UpdateFile(const UpdateFile&) = delete;
    UpdateFile& operator=(const UpdateFile&) = delete;

    // Starts a new temporary file for `fileName` in `folder` (made if missing).
    bool begin(const QString& folder, const QString& fileName);
    bool isOpen() const { return m_file != nullptr; }
    bool write(const QByteArray& bytes);
    qint64 size() const;
    // Everything on the disk and the file closed; its path, empty on failure.
    QString complete();
    // Executable, then renamed to `target`; the temporary name is gone either way.
    bool install(const QString& target);
    void drop();

private:
    std::unique_ptr<QTemporaryFile> m_file;
};

} // namespace quvo
