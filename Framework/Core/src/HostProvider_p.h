#pragma once

// What the leaves of the library (file utilities, the mutex locker, the
// set-up record, the recording pool, the parameters, the service commands) need from the
// running program, so that they do not reach up to the application. The
// application installs itself as the provider while it exists; without one
// each leaf answers as a part used on its own.

#include "KorCoreExport.h"

#include <QString>
#include <QVariant>

class QObject;

namespace Kor::NS {

class KORCORE_AUTOTEST_EXPORT HostProvider
{
public:
    virtual ~HostProvider() = default;

    // The machine id as text; throws KorException when there is none.
    virtual QString machineIdText() const = 0;
    // A value of the program's settings, as Application::setting().
    virtual QVariant setting(const QString& key, const QVariant& defaultValue, bool hidden) = 0;
    // A file in the updater's folder.
    virtual QString updaterConfigPath(const QString& fileName) const = 0;
    // The recording pool's root, from the shared set-up record.
    virtual QString callPoolFolder() const = 0;
    // The service's identity: its name, its executable, its dependencies.
    virtual QString serviceName() const = 0;
    virtual QString executable() const = 0;
    virtual QString serviceDependencies() const = 0;
    // The object whose slots the command-line parameters call.
    virtual QObject* parameterReceiver() = 0;
    // Ends the event loop in order, from any thread.
    virtual void quit() = 0;
};

// The provider in force, or nullptr; safe from any thread.
KORCORE_AUTOTEST_EXPORT HostProvider* hostProvider();
// The application's start and end; nullptr removes it.
KORCORE_AUTOTEST_EXPORT void setHostProvider(HostProvider* provider);

} // namespace Kor::NS
