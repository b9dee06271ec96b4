#pragma once

// Internal: the machine-wide store that stands in for the system registry, a
// folder of INI files (KOR_REGISTRY_ROOT, default /etc/kor/registry). The key
// path HKEY_LOCAL_MACHINE\SOFTWARE\Kor is the file
// <root>/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini; the value Common/machineId is
// machineId= in its [Common] section.

#include <QString>
#include <QVariant>

namespace Kor::NS::MachineStore {

QString root();
QString fileOf(const QString& keyPath);
// An invalid QVariant when the file, the value or a readable INI is missing.
QVariant value(const QString& keyPath, const QString& name);

} // namespace Kor::NS::MachineStore
