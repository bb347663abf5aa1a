#pragma once

#include <QString>

#include <sys/types.h>

// Ownership of a name through a lock file: an exclusive flock() on a regular file.
// The kernel drops the lock when its process ends, however it ends, so a lock file left
// behind never keeps the name, whatever it holds; and the file is opened without
// following links and without waiting, so nothing placed at its path can block or
// redirect the program. The file holds the owner's process id, program and host.
class NameLock
{
public:
    enum class Result { Locked, HeldByOther, Failed };

    explicit NameLock(const QString& path);
    ~NameLock();
    NameLock(const NameLock&) = delete;
    NameLock& operator=(const NameLock&) = delete;

    Result lock();
    // Removes the lock file (when it is still this lock's) and releases the lock.
    void unlock();
    bool isLocked() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    // "a folder", "a FIFO", ... for messages that name what stands at a path.
    static QString describeFileType(mode_t mode);

private:
    Result tryOnce(bool* raced);
    void writeOwner();

    QString m_path;
    QString m_error;
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};
