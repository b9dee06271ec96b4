#pragma once

// Appending to a plain file, for writers that keep their own buffer (the log
// file). Failures are reported through an errno value; closeFile() is the
// one of PlatformFileLock.h.

#include "PlatformFileLock.h"

#include <cstddef>
#include <string>

// Exported from libVarnet, which holds the one copy of this layer.
#pragma GCC visibility push(default)

namespace Kor::Platform {

// Opens path for appending, creating it (0644 before the umask) when missing.
// Anything but a regular file (links followed) is refused without blocking.
// Returns the descriptor, or -1 with error set.
int openForAppend(const std::string& path, int& error);
// Writes all size bytes at the end, continuing after short writes and EINTR;
// false with error set when the kernel refuses the rest (ENOSPC, EFBIG, EIO
// ...). written is the number of bytes that reached the file, also then.
bool writeAll(int fd, const char* data, std::size_t size, std::size_t& written, int& error);
// Takes back the last bytes written through a descriptor of openForAppend():
// the file is cut to the descriptor's offset less bytes.
bool dropWrittenTail(int fd, std::size_t bytes, int& error);

} // namespace Kor::Platform

#pragma GCC visibility pop
