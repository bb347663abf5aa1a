#include "NameLock.h"

#include "TextConvert.h"

#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("NameLock", text);
}

} // namespace

NameLock::NameLock(const QString& path) : m_path(path) {}

NameLock::~NameLock()
{
    unlock();
}

QString NameLock::describeFileType(mode_t mode)
{
    if (S_ISDIR(mode))
        return tr("a folder");
    if (S_ISREG(mode))
        return tr("a regular file");
    if (S_ISLNK(mode))
        return tr("a symbolic link");
    if (S_ISFIFO(mode))
        return tr("a FIFO");
    if (S_ISSOCK(mode))
        return tr("a socket");
    return tr("a special file");
}

NameLock::Result NameLock::lock()
{
    unlock();
    m_error.clear();
    // A previous owner removes its file as it goes; a file opened just before that is
    // no longer the one at the path, and the lock is taken again on the new one.
    for (int attempt = 0; attempt < 5; ++attempt) {
        bool raced = false;
        const Result result = tryOnce(&raced);
        if (!raced)
            return result;
    }
    m_error = tr("Cannot lock %1: it keeps being replaced").arg(m_path);
    return Result::Failed;
}

NameLock::Result NameLock::tryOnce(bool* raced)
{
    const QByteArray native = QFile::encodeName(m_path);
    const auto notALockFile = [this](mode_t mode) {
        m_error = tr("%1 is %2, not a lock file; it is left as it is")
                      .arg(m_path, describeFileType(mode));
        return Result::Failed;
    };
    struct stat st;
    if (::lstat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return notALockFile(st.st_mode);

    const int fd = ::open(native.constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        if (::lstat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode))
            return notALockFile(st.st_mode);
        m_error =
            tr("Cannot open the lock file %1: %2").arg(m_path, TextConvert::systemError(error));
        return Result::Failed;
    }
    // Checked on the descriptor: what is locked is what was checked.
    if (::fstat(fd, &st) != 0) {
        m_error =
            tr("Cannot use the lock file %1: %2").arg(m_path, TextConvert::systemError(errno));
        ::close(fd);
        return Result::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return notALockFile(st.st_mode);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return Result::HeldByOther;
        m_error = tr("Cannot lock %1: %2").arg(m_path, TextConvert::systemError(error));
        return Result::Failed;
    }
    struct stat atPath;
    if (::lstat(native.constData(), &atPath) != 0 || atPath.st_dev != st.st_dev ||
        atPath.st_ino != st.st_ino) {
        ::close(fd);
        *raced = true;
        return Result::Failed;
    }
    m_fd = fd;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    writeOwner();
    return Result::Locked;
}

// For people and tools that look at the file; ownership is the flock alone.
void NameLock::writeOwner()
{
    const QByteArray owner = QByteArray::number(qint64(::getpid())) + '\n' +
                             QCoreApplication::applicationName().toUtf8() + '\n' +
                             QSysInfo::machineHostName().toUtf8() + '\n';
    if (::ftruncate(m_fd, 0) != 0 ||
        ::pwrite(m_fd, owner.constData(), size_t(owner.size()), 0) != ssize_t(owner.size()))
        m_error =
            tr("Cannot write the owner into %1: %2").arg(m_path, TextConvert::systemError(errno));
}

void NameLock::unlock()
{
    if (m_fd < 0)
        return;
    // Removed before the lock is released, so that whoever locks next locks a file
    // that is still at the path.
    struct stat st;
    const QByteArray native = QFile::encodeName(m_path);
    if (::lstat(native.constData(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode)
        ::unlink(native.constData());
    ::close(m_fd);
    m_fd = -1;
}
