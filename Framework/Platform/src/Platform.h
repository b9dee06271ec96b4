#pragma once

// The few operating-system services the libraries need, behind one small
// interface. Each family lives in its own <family>_linux.cpp; a port to
// another system supplies the same functions.

#include <cstddef>
#include <cstdint>
#include <string>

// Exported from libVarnet, which holds the one copy of this layer.
#pragma GCC visibility push(default)

namespace Kor::Platform {

// Process and machine
std::int64_t processId();
std::int64_t currentThreadId();
int processorCount();
// Writes the terminal title escape sequence, only when stdout is a terminal.
void setConsoleTitle(const std::string& title);
// The first 15 bytes are used; the kernel refuses longer names.
void setCurrentThreadName(const std::string& name);
// The calling thread's name as the kernel keeps it; empty when it has none.
std::string currentThreadName();
// Reported by file functions in place of an errno value when the path names
// something other than a regular file (a FIFO, a device, a folder).
inline constexpr int NotARegularFile = -1;
// errno text, as strerror_r gives it; "not a regular file" for NotARegularFile.
std::string errorText(int code);

// Debugger
// Whether a debugger (any tracer) is attached to this process right now. It
// reads /proc, so callers that ask often keep the answer for a while.
bool debuggerAttached();

} // namespace Kor::Platform

#pragma GCC visibility pop
