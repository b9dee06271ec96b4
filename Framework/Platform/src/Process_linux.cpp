#include "Platform.h"

#include <cstring>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Kor::Platform {

std::int64_t processId()
{
    return ::getpid();
}

std::int64_t currentThreadId()
{
    // The kernel thread id is what ps, top and gdb show, unlike pthread_self().
    static thread_local const std::int64_t tid = ::syscall(SYS_gettid);
    return tid;
}

int processorCount()
{
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? int(n) : 1;
}

void setConsoleTitle(const std::string& title)
{
    if (!::isatty(STDOUT_FILENO))
        return;
    std::string seq = "\033]0;";
    for (char c : title)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) // no control bytes inside the sequence
            seq += c;
    seq += '\007';
    ssize_t unused = ::write(STDOUT_FILENO, seq.data(), seq.size());
    (void)unused;
}

void setCurrentThreadName(const std::string& name)
{
    ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
}

std::string currentThreadName()
{
    char name[16] = {};
    if (::pthread_getname_np(::pthread_self(), name, sizeof name) != 0)
        return std::string();
    return std::string(name);
}

std::string errorText(int code)
{
    if (code == NotARegularFile)
        return "not a regular file";
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = ::strerror_r(code, buffer, sizeof buffer);
    return text ? std::string(text) : std::string("Unknown error ") + std::to_string(code);
}

} // namespace Kor::Platform
