#pragma once

// The few operating-system services the libraries need, behind one small
// interface. Each family lives in its own <family>_linux.cpp; a port to
// another system supplies the same functions.

#include <cstddef>
#include <cstdint>
#include <string>

namespace Kor::Platform {

// Process and machine
std::int64_t processId();
std::int64_t currentThreadId();
int processorCount();
// Writes the terminal title escape sequence, only when stdout is a terminal.
void setConsoleTitle(const std::string& title);
// The first 15 bytes are used; the kernel refuses longer names.
void setCurrentThreadName(const std::string& name);
// errno text, as strerror_r gives it.
std::string errorText(int code);

} // namespace Kor::Platform
