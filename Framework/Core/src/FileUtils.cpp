#include "FileUtils.h"

#include "CoreLog_p.h"
#include "HostProvider_p.h"
#include "KorException.h"

#include <PlatformFileLock.h>
#include <PlatformFiles.h>
#include <Platform.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <string>

namespace Kor::NS {

namespace {

std::string nativePath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString errorString(int error)
{
    return QString::fromStdString(Kor::Platform::errorText(error));
}

// A dangling symbolic link still names something that can be moved or
// deleted; QFileInfo::exists() follows links and would miss it.
bool isPresent(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool isRealDirectory(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
}

QString probeFileName()
{
    QString name = QStringLiteral("writable.");
    if (HostProvider* host = hostProvider()) {
        try {
            return name + host->machineIdText();
        } catch (const KorException&) {
            // No identity to be had: the plain name serves as well.
        }
    }
    return name + QLatin1String("test");
}

constexpr qint64 ChecksumBlock = 1 << 20;

Kor::Platform::FileTime fileTime(const QDateTime& time)
{
    Kor::Platform::FileTime result;
    if (!time.isValid())
        return result;
    // Seconds and the rest apart: in nanoseconds the range of dates ends in
    // 2262, while file systems hold far more.
    const qint64 ms = time.toMSecsSinceEpoch();
    qint64 seconds = ms / 1000;
    qint64 rest = ms % 1000;
    if (rest < 0) {
        rest += 1000;
        --seconds;
    }
    result.set = true;
    result.seconds = seconds;
    result.nanoseconds = long(rest) * 1000000;
    return result;
}

} // namespace

bool MoveFileW(const QString& source, const QString& target)
{
    coreLog(Kor::DEBUG, Kor::LOG_INFO) << "Moving " << source << " to " << target;
    int error = 0;
    // The target goes only when the source can take its place: the rename
    // below replaces it in one step, so a failed move never costs the old
    // target.
    if (isPresent(source) && isPresent(target)) {
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "Overwriting existing target file " << target;
        if (isRealDirectory(target)) {
            coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Failed to remove existing target file " << target;
            return false;
        }
    }
    const QString folder = QFileInfo(target).absolutePath();
    if (!QFileInfo::exists(folder))
        QDir().mkpath(folder);
    if (Kor::Platform::movePath(nativePath(source), nativePath(target), error))
        return true;
    coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Failed to move " << source << ": " << errorString(error).simplified();
    return false;
}

bool isReadable(const QString& path)
{
    int error = 0;
    if (Kor::Platform::canOpenForReading(nativePath(path), error))
        return true;
    if (Kor::Platform::isAccessDenied(error))
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "No read-permissions for \"" << path << "\"";
    else
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING)
            << "Could not check whether \"" << path << "\" is readable (error: " << QString::number(error) << ")";
    return false;
}

bool doesDirectoryAllowRW(const QString& dir)
{
    int error = 0;
    return !dir.isEmpty() && Kor::Platform::probeWritableDirectory(nativePath(dir), nativePath(probeFileName()), error);
}

bool doesDirectoryAllowRWD(const QString& dir)
{
    int error = 0;
    return !dir.isEmpty() && Kor::Platform::probeRemovableFile(nativePath(dir), nativePath(probeFileName()), error);
}

bool _deleteFile(const QString& path, Kor::LogObject* log, const Kor::String& logName)
{
    QFile file(path);
    return _deleteFile(file, log, logName);
}

bool _deleteFile(QFile& file, Kor::LogObject* log, const Kor::String& logName)
{
    if (file.fileName().isEmpty()) {
        LogMessage(log, logName, Kor::ALWAYS, Kor::LOG_WARNING) << "Tried to delete file with empty filename.";
        return false;
    }
    file.close();
    const QString name = file.fileName();
    if (!isPresent(name))
        return true;
    if (file.remove() || !isPresent(name))
        return true;
    // Permissions of a link would land on its target, and those of a folder
    // do not help deleting it as a file. Deleting depends on the folder here;
    // the owner's write bit is all a second try may add, and the file keeps
    // its old mode if it stays.
    if (!QFileInfo(name).isSymLink() && !QFileInfo(name).isDir()) {
        const QFileDevice::Permissions before = file.permissions();
        if (!before.testFlag(QFileDevice::WriteOwner) && file.setPermissions(before | QFileDevice::WriteOwner)
            && !file.remove() && isPresent(name))
            QFile::setPermissions(name, before);
    }
    if (isPresent(name)) {
        LogMessage(log, logName, Kor::ALWAYS, Kor::LOG_WARNING)
            << "Failed to delete file '" << name << "' : " << file.errorString() << "("
            << QString::number(int(file.error())) << ")";
        return false;
    }
    return true;
}

void DeleteFiles(const QString& dir, const QList<QString>& nameFilters)
{
    if (dir.isEmpty())
        return;
    QDir folder(dir);
    QDirIterator it(dir, nameFilters, QDir::Files);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (!folder.remove(name))
            coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "Could not delete file: " << name;
    }
}

bool RemoveEmptyDirectories(const QString& dir, const QString& stopDir)
{
    QDir current(dir);
    const QDir stop(stopDir);
    const QString stopPath = QDir::cleanPath(stop.absolutePath());
    const QString startPath = QDir::cleanPath(current.absolutePath());
    // Climbing from a folder outside stopDir would never meet it and would
    // empty every parent up to the root.
    if (dir.isEmpty() || stopDir.isEmpty()
        || (startPath != stopPath && !startPath.startsWith(stopPath == QLatin1String("/") ? stopPath : stopPath + '/'))) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR)
            << "Not removing directory " << dir << ": it is not below " << stopDir;
        return false;
    }
    current.setPath(startPath);
    while (current.exists() && QDir::cleanPath(current.absolutePath()) != stopPath) {
        const QString path = current.path();
        int error = 0;
        if (!Kor::Platform::removeDirectory(nativePath(path), error)) {
            if (!Kor::Platform::isDirectoryNotEmpty(error))
                coreLog(Kor::INFO, Kor::LOG_ERROR) << "Failed to remove empty directory " << path << "; Error: "
                                                   << QString::number(error) << " " << errorString(error);
            return false;
        }
        coreLog(Kor::INFO, Kor::LOG_INFO) << "Removed empty directory " << path;
        current.cdUp();
    }
    return true;
}

qint64 GetFileSizeOnDisk(const QString& path)
{
    if (path.isEmpty() || !QFile::exists(path)) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "The file  " << path << " doesn't exist";
        return -1;
    }
    const qint64 fallback = QFileInfo(path).size();
    int error = 0;
    const qint64 allocated = Kor::Platform::allocatedSize(nativePath(path), error);
    if (allocated < 0) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "The file  " << path << " could not be opened; Error: "
                                             << QString::number(error) << " " << errorString(error);
        return fallback;
    }
    return allocated;
}

bool TryLockFile(QFile* file)
{
    if (!file || !file->isOpen() || file->handle() < 0)
        return false;
    int error = 0;
    return Kor::Platform::tryLockWholeFile(file->handle(), error);
}

bool SetFileTime(const QString& path, const QDateTime& created, const QDateTime& lastAccess, const QDateTime& lastWrite)
{
    bool openFailed = false;
    int error = 0;
    const bool ok = Kor::Platform::setFileTimes(nativePath(path), fileTime(lastAccess), fileTime(lastWrite),
                                                openFailed, error);
    if (openFailed) {
        coreLog(Kor::TRACE, Kor::LOG_INFO) << QStringLiteral("Cannot open file to set file time for file '%1'").arg(path);
        return false;
    }
    if (!ok) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << QStringLiteral("Cannot set file time for file '%1'").arg(path);
        return false;
    }
    QString line = QStringLiteral("Successfully set creation date '%1', last access date '%2', last write date "
                                  "'%3' for file '%4'")
                       .arg(created.toString(Qt::TextDate), lastAccess.toString(Qt::TextDate),
                            lastWrite.toString(Qt::TextDate), path);
    if (created.isValid())
        line += QLatin1String(" (the creation date cannot be set on this system and was left as it was)");
    coreLog(Kor::TRACE, Kor::LOG_INFO) << line;
    return true;
}

bool SetFileAttribute(const QString& path, int attribute, bool set)
{
    const std::string native = nativePath(path);
    unsigned current = 0;
    int error = 0;
    if (path.isEmpty() || !Kor::Platform::fileAttributes(native, current, error)) {
        if (path.isEmpty())
            error = ENOENT;
        coreLog(Kor::TRACE, Kor::LOG_INFO) << QStringLiteral("Failed to get file attributes for file '%1'; Error: %2 %3")
                                                  .arg(path, QString::number(error), errorString(error));
        return false;
    }
    const unsigned bits = unsigned(attribute);
    if (set && (current & bits) == 0) {
        if (!Kor::Platform::setFileAttributes(native, current | bits, error)) {
            coreLog(Kor::ALWAYS, Kor::LOG_ERROR)
                << QStringLiteral("Cannot set file attribute '%1' for file '%2'; Error: %3 %4")
                       .arg(QString::number(attribute), path, QString::number(error), errorString(error));
            return false;
        }
    } else if (!set && (current & bits) == bits) {
        if (!Kor::Platform::setFileAttributes(native, current & ~bits, error)) {
            coreLog(Kor::ALWAYS, Kor::LOG_ERROR)
                << QStringLiteral("Cannot unset file attribute '%1' for file '%2'; Error: %3 %4")
                       .arg(QString::number(attribute), path, QString::number(error), errorString(error));
            return false;
        }
    }
    coreLog(Kor::TRACE, Kor::LOG_INFO) << QStringLiteral("Sucessfully %1 file attribute '%2' for file '%3'")
                                              .arg(set ? QStringLiteral("set") : QStringLiteral("unset"),
                                                   QString::number(attribute), path);
    return true;
}

QString GetFileCheckSum(const QString& path)
{
    if (!QFile::exists(path))
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR)
            << QStringLiteral("The file '%1' doesn't exits: failed to get the checksum").arg(path);
    QFile file(path);
    if (path.isEmpty() || QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << QStringLiteral("Cannot open file '%1': failed to get the checksum").arg(path);
        return QString();
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    // Block by block: recordings run to gigabytes.
    QByteArray block(ChecksumBlock, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(block.data(), ChecksumBlock);
        if (n < 0) {
            coreLog(Kor::ALWAYS, Kor::LOG_ERROR)
                << QStringLiteral("Cannot open file '%1': failed to get the checksum").arg(path) << " ("
                << file.errorString() << ")";
            return QString();
        }
        if (n == 0)
            break;
        hash.addData(QByteArrayView(block.constData(), n));
    }
    const QString sum = QString::fromLatin1(hash.result().toHex());
    coreLog(Kor::TRACE, Kor::LOG_INFO) << QStringLiteral("Calculated checksum for file '%1' is '%2'").arg(path, sum);
    return sum;
}

bool GetAvailableDiskSpace(const QString& path, quint64& freeBytes, quint64& totalBytes)
{
    std::uint64_t available = 0;
    std::uint64_t total = 0;
    int error = 0;
    if (path.isEmpty() || !Kor::Platform::diskSpace(nativePath(path), available, total, error))
        return false;
    freeBytes = available;
    totalBytes = total;
    return true;
}

int GetNumberOfProcessors()
{
    const int count = QThread::idealThreadCount();
    return count == -1 ? Kor::Platform::processorCount() : count;
}

} // namespace Kor::NS
