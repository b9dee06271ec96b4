#include "PlatformFileIo.h"

#include "Platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kor::Platform {

int openForAppend(const std::string& path, int& error)
{
    // O_NONBLOCK: a FIFO at the path must not stall the logging thread. Only
    // a regular file is written; on one, O_NONBLOCK changes nothing.
    int fd;
    do
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = NotARegularFile;
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const char* data, std::size_t size, std::size_t& written, int& error)
{
    written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        if (n == 0) { // cannot happen for regular files; do not spin on it
            error = EIO;
            return false;
        }
        written += std::size_t(n);
    }
    return true;
}

bool dropWrittenTail(int fd, std::size_t bytes, int& error)
{
    // In append mode every write first moves the offset to the end, so after
    // our write the offset is where our bytes end.
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end < 0) {
        error = errno;
        return false;
    }
    if (std::size_t(end) < bytes) {
        error = EINVAL;
        return false;
    }
    return truncateFile(fd, std::int64_t(end) - std::int64_t(bytes), error);
}

} // namespace Kor::Platform
