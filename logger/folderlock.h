#pragma once
// One logger per folder: two loggers appending to the same day file and replacing each other's
// record files would clobber both. The lock is an flock(2) on DIR/.vostral-logger.lock, which
// the kernel lets go of when the process ends however it ends, so a kill -9 leaves no stale
// lock behind. The file holds the owner's process id for the message of the second logger.
#include <QString>

class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // false with *error when another logger holds the folder, or the lock cannot be taken.
    bool Take(const QString& folder, QString* error);

private:
    int m_Fd = -1;
};
