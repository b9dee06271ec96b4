#include "Platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Kor::Platform {

bool debuggerAttached()
{
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[4096];
    std::size_t size = 0;
    while (size < sizeof buffer - 1) {
        const ssize_t n = ::read(fd, buffer + size, sizeof buffer - 1 - size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        size += std::size_t(n);
    }
    ::close(fd);
    buffer[size] = '\0';
    // "TracerPid:\t0" without a tracer; the pid of the tracer otherwise.
    const char* field = std::strstr(buffer, "\nTracerPid:");
    if (!field)
        return false;
    return std::strtol(field + std::strlen("\nTracerPid:"), nullptr, 10) != 0;
}

} // namespace Kor::Platform
