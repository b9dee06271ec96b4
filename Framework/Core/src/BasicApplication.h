#pragma once

#include "Application.h"

#include <Kor/AutoPointer.h>
#include <Kor/Thread.h>

#include <memory>

namespace Kor::NS {

class BasicApplicationPrivate;
class ConsoleApplicationPrivate;

// An application that owns the program's main worker thread: made by
// createThread(), started by init(), stopped by close().
class KORCORE_EXPORT BasicApplication : public Application
{
    Q_OBJECT
public:
    explicit BasicApplication(QSharedPointer<QCoreApplication> app);
    ~BasicApplication() override;

    static BasicApplication* instance();

    void init() override;
    void close() override;
    // The program's main thread; null runs the application without one.
    virtual Kor::Thread* createThread();

private:
    std::unique_ptr<BasicApplicationPrivate> d;
};

// A BasicApplication that builds its own Qt application from the command line.
class KORCORE_EXPORT ConsoleApplication : public BasicApplication
{
    Q_OBJECT
public:
    ConsoleApplication(int argc, char** argv);
    ~ConsoleApplication() override;

private:
    std::unique_ptr<ConsoleApplicationPrivate> d;
};

} // namespace Kor::NS
