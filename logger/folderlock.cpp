#include "folderlock.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

FolderLock::~FolderLock()
{
    if (m_Fd >= 0)
        close(m_Fd);
}

bool FolderLock::Take(const QString& folder, QString* error)
{
    const QString path = folder + QStringLiteral("/.vostral-logger.lock");
    const int fd = open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = QStringLiteral("cannot lock the folder %1: %2").arg(QDir(folder).absolutePath(), QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        char pid[24] = {};
        const ssize_t n = pread(fd, pid, sizeof pid - 1, 0);
        close(fd);
        if (err == EWOULDBLOCK) {
            const QByteArray owner = QByteArray(pid, n > 0 ? int(n) : 0).trimmed();
            *error = QStringLiteral("another vostral-logger%1 is recording into %2; one logger per folder")
                         .arg(owner.isEmpty() ? QString() : QStringLiteral(" (pid %1)").arg(QString::fromLatin1(owner)),
                              QDir(folder).absolutePath());
        } else {
            *error = QStringLiteral("cannot lock the folder %1: %2").arg(QDir(folder).absolutePath(), QString::fromLocal8Bit(strerror(err)));
        }
        return false;
    }
    const QByteArray pid = QByteArray::number(qint64(getpid())) + '\n';
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.constData(), size_t(pid.size()), 0) != pid.size()) {
        // The lock holds without the number; only the other logger's message lacks it.
    }
    m_Fd = fd;
    return true;
}
