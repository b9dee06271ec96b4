#include "PlatformFileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kor::Platform {

int openRegularFile(const char* path, bool read, bool write, int permissions, int& error)
{
    if (!path || !*path || (!read && !write)) {
        error = EINVAL;
        return -1;
    }
    int flags = read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    if (write)
        flags |= O_CREAT;
    // O_NONBLOCK keeps a FIFO from stalling the open; on a regular file it has
    // no effect. O_CLOEXEC keeps child programs from inheriting (and so
    // holding) the lock.
    flags |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd;
    do {
        fd = ::open(path, flags, mode_t(permissions & 07777));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return -1;
    }
    return fd;
}

namespace {

bool setWholeFileLock(int fd, short type, int& error)
{
    struct flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // to the end, however far the file grows
    lock.l_pid = 0; // required for open-file-description locks
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return true;
    error = errno == EACCES ? EAGAIN : errno;
    return false;
}

} // namespace

bool tryLockWholeFile(int fd, int& error)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) {
        error = errno;
        return false;
    }
    if ((flags & O_ACCMODE) != O_RDONLY)
        return setWholeFileLock(fd, F_WRLCK, error);
    // A read lock alone would let two read-only lockers in at once. Record
    // locks and flock locks do not see each other, so the read lock is what
    // writers meet and the flock is what other readers meet.
    if (!setWholeFileLock(fd, F_RDLCK, error))
        return false;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return true;
    error = errno == EWOULDBLOCK ? EAGAIN : errno;
    int ignored = 0;
    setWholeFileLock(fd, F_UNLCK, ignored);
    return false;
}

std::int64_t readAt(int fd, void* buffer, std::size_t size, std::int64_t offset, int& error)
{
    ssize_t n;
    do {
        n = ::pread(fd, buffer, size, off_t(offset));
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        error = errno;
    return n;
}

bool writeAllAt(int fd, const void* buffer, std::size_t size, std::int64_t offset, int& error)
{
    const char* p = static_cast<const char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            return false;
        }
        p += n;
        size -= std::size_t(n);
        offset += n;
    }
    return true;
}

bool truncateFile(int fd, std::int64_t length, int& error)
{
    int rc;
    do {
        rc = ::ftruncate(fd, off_t(length));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        error = errno;
    return rc == 0;
}

bool isLinkedAt(int fd, const char* path)
{
    struct stat open{}, named{};
    if (fd < 0 || !path || ::fstat(fd, &open) != 0 || ::stat(path, &named) != 0)
        return false;
    return open.st_nlink > 0 && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

void closeFile(int fd)
{
    if (fd >= 0)
        ::close(fd); // not retried on EINTR: the descriptor is gone either way on Linux
}

} // namespace Kor::Platform
