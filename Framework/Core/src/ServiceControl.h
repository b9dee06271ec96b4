#pragma once

#include "KorCoreExport.h"

#include <QString>
#include <QThread>

#include <atomic>

namespace Kor::NS {

// Connects the program to the service manager. run() constructs one in every
// mode; only in service mode is its thread started.
class KORCORE_EXPORT ServiceControl : public QThread
{
    Q_OBJECT
public:
    ServiceControl();
    ~ServiceControl() override;

    static ServiceControl* instance();

    // Returns once the service runs, or once the thread ended without
    // starting it (the failure path has then asked the application to quit).
    void waitForStart();
    // Reports the stopped state (exit code 0).
    void stop();
    void doServiceStart();
    void doServiceStop();

protected:
    void run() override;

private:
    static int SetStatus(unsigned long state, unsigned long exitCode, unsigned long waitHint);

    // Written by the service threads, read by the main thread.
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_stopped{true};

    static ServiceControl* m_instance;
};

} // namespace Kor::NS
