#pragma once

// Paths in the call pool, the data folder that keeps one folder per tenant
// with its package files, and the pool's free space.

#include "KorCoreExport.h"

#include <Kor/Uuid.h>

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace Kor::NS {

class KORCORE_EXPORT RecordingPool
{
public:
    // For host programs that spread packages over sub-folders; the library
    // does not read them.
    static const int SubDirLevels;
    static const int SubDirBytes;

    // A relative, "/"-terminated path of date buckets spelled by the token's
    // letters, in order and in either case: Y year, M month, D day, H hour
    // (token "ymd" gives "YEAR_2024/MONTH_05/DAY_07/"). Every other character
    // adds only a separator once the path has begun. Empty for an invalid
    // time.
    static QString pathFromToken(const QString& token, const QDateTime& time);
    // The tenant's folder in the call pool, extended by subPath when given.
    // packageId is not part of it.
    static QString packagePath(const Kor::Uuid& tenantId, const Kor::Uuid& packageId, const QString& subPath);
    // The package file in the folder of packagePath().
    static QString packageFilePath(const Kor::Uuid& tenantId, const Kor::Uuid& packageId, const QString& subPath);
    // Bytes free to this user in the call pool; 0, with a log line, when the
    // folder cannot be asked.
    static quint64 bytesFree();

private:
    RecordingPool() = default;
};

} // namespace Kor::NS
