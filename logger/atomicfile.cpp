// Replacing a file so that a reader, a crash or a power cut finds the old or the new one whole:
// the new bytes go to a temporary file in the same folder (rename is atomic only within one
// file system), reach the disk, and only then take the name; the folder's own fsync makes the
// rename itself durable.
#include "runrecorder.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {
bool WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0)
                errno = ENOSPC;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

bool SyncFolder(const QByteArray& folder)
{
    const int fd = open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0;
    const int err = errno;
    close(fd);
    errno = err;
    return ok;
}
} // namespace

bool Atomic_WriteFile(const QString& path, const QByteArray& data)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temp = target + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, 0644) == 0 && WriteAll(fd, data.constData(), size_t(data.size())) && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(temp.constData(), target.constData()) == 0)
        return SyncFolder(QFile::encodeName(QFileInfo(path).absolutePath()));
    if (ok)
        err = errno;
    unlink(temp.constData());
    errno = err;
    return false;
}

int Atomic_RemoveStale(const QString& folder)
{
    // Only the names Atomic_WriteFile makes of a record file: "<name>.str." and mkostemp's six.
    static const QRegularExpression temp(QStringLiteral("^.+\\.str\\.[A-Za-z0-9]{6}$"));
    int removed = 0;
    QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("*.str.*")}, QDir::Files | QDir::Hidden)) {
        if (temp.match(name).hasMatch() && dir.remove(name))
            ++removed;
    }
    return removed;
}
