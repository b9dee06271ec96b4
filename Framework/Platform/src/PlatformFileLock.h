#pragma once

// Plain file access with a whole-file lock, for the base library's share
// stream. Every function reports failure through an errno value.

#include <cstddef>
#include <cstdint>

// Exported from libVarnet, which holds the one copy of this layer.
#pragma GCC visibility push(default)

namespace Kor::Platform {

// Opens a regular file without blocking and without truncating it; with
// write set, a missing file is created with permissions. Anything that is not
// a regular file (a directory, a FIFO, a device) is refused. Returns the
// descriptor, or -1 with error set.
int openRegularFile(const char* path, bool read, bool write, int permissions, int& error);

// Locks the whole file for this open file description alone (so a second
// open in the same process conflicts too), whatever its access mode: a
// writable descriptor takes a write lock; a read-only one, which cannot,
// takes a read lock, which keeps writers' locks out, and an exclusive flock,
// which keeps other read-only lockers out. Never waits: false with error
// EAGAIN when anyone else holds a conflicting lock. The kernel drops the
// locks when the description is closed or its process dies.
bool tryLockWholeFile(int fd, int& error);

// Reads up to size bytes at offset; 0 at the end of the file, -1 on error.
std::int64_t readAt(int fd, void* buffer, std::size_t size, std::int64_t offset, int& error);
// Writes all size bytes at offset, retrying short writes.
bool writeAllAt(int fd, const void* buffer, std::size_t size, std::int64_t offset, int& error);
bool truncateFile(int fd, std::int64_t length, int& error);
// Whether path (links followed) names the file open on fd, and that file was
// not removed since.
bool isLinkedAt(int fd, const char* path);
void closeFile(int fd);

} // namespace Kor::Platform

#pragma GCC visibility pop
