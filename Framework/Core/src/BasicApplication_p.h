#pragma once

#include <Kor/AutoPointer.h>
#include <Kor/Thread.h>

namespace Kor::NS {

class BasicApplicationPrivate
{
public:
    // The program's main thread, made by createThread().
    Kor::AutoPointer<Kor::Thread> thread;
    // close() gave up waiting for the thread; the destructor leaves it alone.
    bool threadTerminated = false;
};

class ConsoleApplicationPrivate
{
public:
    int argc = 0;
};

} // namespace Kor::NS
