#include "MachineStore_p.h"

#include "CoreLog_p.h"

#include "Platform.h"
#include "PlatformFiles.h"

#include <QFile>

#include <cerrno>
#include <string>

namespace Kor::NS::MachineStore {

namespace {

// A store file holds a handful of values; anything larger is not one.
constexpr qint64 kMaxFileSize = 1024 * 1024;

void logUnusable(const QString& file, const QString& cause)
{
    coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "Machine store file " << file << " cannot be read: " << cause;
}

// The whole file; empty when it is missing or unusable.
QByteArray readStoreFile(const QString& path)
{
    std::string content;
    int error = 0;
    if (Kor::Platform::readWholeFile(QFile::encodeName(path).toStdString(), kMaxFileSize, content, error))
        return QByteArray::fromStdString(content);
    if (error == ENOENT || error == ENOTDIR)
        return QByteArray();
    logUnusable(path, error == EFBIG ? QStringLiteral("larger than %1 bytes").arg(kMaxFileSize)
                                     : QString::fromStdString(Kor::Platform::errorText(error)));
    return QByteArray();
}

} // namespace

QString root()
{
    const QString fromEnvironment = qEnvironmentVariable("KOR_REGISTRY_ROOT");
    return fromEnvironment.isEmpty() ? QStringLiteral("/etc/kor/registry") : fromEnvironment;
}

QString fileOf(const QString& keyPath)
{
    QString relative = keyPath;
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return root() + QLatin1Char('/') + relative + QLatin1String(".ini");
}

QVariant value(const QString& keyPath, const QString& name)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const QByteArray section = name.left(qMax<qsizetype>(slash, 0)).toUtf8();
    const QByteArray key = name.mid(slash + 1).toUtf8();
    const QString file = fileOf(keyPath);
    QByteArray content = readStoreFile(file);
    if (content.startsWith("\xEF\xBB\xBF"))
        content.remove(0, 3);

    // Keys before the first section header belong to no section; so do the
    // keys under a header that is not closed.
    QByteArray current;
    bool inValidSection = true;
    for (const QByteArray& rawLine : content.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            inValidSection = line.endsWith(']');
            current = inValidSection ? line.mid(1, line.size() - 2).trimmed() : QByteArray();
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals < 0 || !inValidSection || current != section || line.left(equals).trimmed() != key)
            continue;
        return QString::fromUtf8(line.mid(equals + 1).trimmed());
    }
    return QVariant();
}

} // namespace Kor::NS::MachineStore
