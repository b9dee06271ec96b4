#include "RecordingPool.h"

#include "CoreLog_p.h"
#include "FileUtils.h"
#include "HostProvider_p.h"

#include <QDir>

namespace Kor::NS {

const int RecordingPool::SubDirLevels = 0;
const int RecordingPool::SubDirBytes = 2;

namespace {

QString callPoolFolder()
{
    const HostProvider* host = hostProvider();
    return host ? host->callPoolFolder() : QString();
}

QString uuidText(const Kor::Uuid& id)
{
    return QString::fromUtf8(id.toString().c_str());
}

} // namespace

QString RecordingPool::pathFromToken(const QString& token, const QDateTime& time)
{
    if (!time.isValid())
        return QString();
    QString result;
    for (const QChar letter : token.toUpper()) {
        switch (letter.unicode()) {
        case 'Y':
            result += QLatin1String("YEAR_") + time.toString(QStringLiteral("yyyy"));
            break;
        case 'M':
            result += QLatin1String("MONTH_") + time.toString(QStringLiteral("MM"));
            break;
        case 'D':
            result += QLatin1String("DAY_") + time.toString(QStringLiteral("dd"));
            break;
        case 'H':
            result += QLatin1String("HOUR_") + time.toString(QStringLiteral("hh"));
            break;
        default:
            break;
        }
        if (!result.isEmpty())
            result += QLatin1Char('/');
    }
    return result;
}

QString RecordingPool::packagePath(const Kor::Uuid& tenantId, const Kor::Uuid& /*packageId*/, const QString& subPath)
{
    const QDir pool(callPoolFolder());
    const QString tenant = pool.absoluteFilePath(QStringLiteral("%1.KorTenant").arg(uuidText(tenantId).toLower()));
    return subPath.isEmpty() ? tenant : QDir(tenant).absoluteFilePath(subPath);
}

QString RecordingPool::packageFilePath(const Kor::Uuid& tenantId, const Kor::Uuid& packageId, const QString& subPath)
{
    return QDir(packagePath(tenantId, packageId, subPath)).absoluteFilePath(uuidText(packageId));
}

quint64 RecordingPool::bytesFree()
{
    const QString folder = callPoolFolder();
    quint64 freeBytes = 0;
    quint64 totalBytes = 0;
    if (GetAvailableDiskSpace(folder, freeBytes, totalBytes))
        return freeBytes;
    coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Failed to query available disk space in " << folder;
    return 0;
}

} // namespace Kor::NS
