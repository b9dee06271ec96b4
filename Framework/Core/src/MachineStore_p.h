#pragma once

// Internal: the machine-wide store that stands in for the system registry, a
// folder of INI files (KOR_REGISTRY_ROOT, default /etc/kor/registry). The key
// path HKEY_LOCAL_MACHINE\SOFTWARE\Kor is the file
// <root>/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini; the value Common/machineId is
// machineId= in its [Common] section.
//
// A value is the raw text after the first "=" of its line, without the
// blanks around it: paths keep their "," and ";", which an INI reader that
// knows lists and trailing comments would take apart. Lines starting with
// ";" or "#" are comments; the first line of a key counts.

#include "KorCoreExport.h"

#include <QString>
#include <QVariant>

namespace Kor::NS::MachineStore {

QString root();
QString fileOf(const QString& keyPath);
// An invalid QVariant when the file or the value is missing. A file that
// exists but cannot be read, or is no regular file, is logged with its name
// and the cause, and holds no values.
KORCORE_AUTOTEST_EXPORT QVariant value(const QString& keyPath, const QString& name);

} // namespace Kor::NS::MachineStore
