#include "PlatformFileIo.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Kor::Platform {

int openForAppend(const std::string& path, int& error)
{
    int fd;
    do
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        error = errno;
    return fd;
}

bool writeAll(int fd, const char* data, std::size_t size, int& error)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
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
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

} // namespace Kor::Platform
