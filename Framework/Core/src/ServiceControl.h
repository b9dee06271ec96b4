#pragma once

#include "KorCoreExport.h"

#include <QString>
#include <QThread>

namespace Kor::NS {

// Connects the program to the service manager (systemd on Linux). run()
// constructs one in every mode; only in service mode is its thread started:
// it runs the dispatcher, which starts the service-main sequence on a thread
// of its own and turns the manager's stop control (SIGTERM) into an orderly
// quit. The static commands install, remove, start, stop and query the
// program's service.
class KORCORE_EXPORT ServiceControl : public QThread
{
    Q_OBJECT
public:
    ServiceControl();
    ~ServiceControl() override;

    static ServiceControl* instance();

    // Returns once the service runs, once a stop came, or once the thread
    // ended without starting it (the failure path has then asked the
    // application to quit).
    void waitForStart();
    // Reports the stopped state with exit code 0, or with the code the
    // program ends with. Nothing is reported after it.
    void stop();
    void stop(int exitCode);
    void doServiceStart();
    void doServiceStop();

    // The service-main callback and the control handler; the arguments of
    // ServiceMain are not used.
    static void ServiceMain(unsigned long argc, wchar_t** argv);
    static void ServerControlHandler(unsigned long control);

    // The program serves: its PID file is taken, init() has returned and
    // the event loop runs. Only now does the manager hear that the service
    // is ready (once per start); a program that ends earlier never says so.
    static void reportReady();
    // A reload of the settings begins (with the monotonic time the manager
    // wants) and has ended, also when it failed: the manager shows the unit
    // "reloading" in between. Both do nothing unless the service-main
    // sequence reached the manager; the end is reported only while running.
    static void reportReloading();
    static void reportReloaded();
    // The watchdog's ping: the main loop is alive.
    static void reportAlive();

    // The service commands; each logs its outcome and returns whether it did
    // what was asked (an installed service counts as installed). An empty
    // account installs under the manager's default; a password is not
    // stored. The service is Application::serviceName(); its dependencies,
    // Application::serviceDependencies(), are names each ended by a null
    // character (the manager's form) or separated by ';'; blanks belong to
    // the names.
    static bool installService(const QString& account, const QString& password, bool allowInteraction);
    static bool uninstallService();
    static bool startService();
    static bool stopService();
    static bool statusService();

protected:
    void run() override;

private:
    static int SetStatus(unsigned long state, unsigned long exitCode, unsigned long waitHint);

    // ---- commands ----
    // The static commands above delegate to ServiceCommands
    // (ServiceControlCommands_p.h), which needs nothing of this class.
    // ---- end of commands ----

    // The started and stopped flags live in the service's status record,
    // which every thread reaches under one lock.
};

} // namespace Kor::NS
