#pragma once

// File-system work that Qt alone does not cover, each call leaving a uniform
// trace in the log. All functions are synchronous, keep no state, are safe
// from any thread and never throw; failures come back as false, -1 or an
// empty string together with a log line on the current thread's log object.

#include "KorCoreExport.h"

#include <Kor/KorString.h>
#include <Kor/LogObject.h>

#include <QDateTime>
#include <QFile>
#include <QList>
#include <QString>

namespace Kor::NS {

// Moves source to target, replacing an existing target file and creating the
// target's folder. Across file systems the file is copied and flushed before
// the source goes; a failed move leaves the source (and an old target) as
// they were. A symbolic link is moved as the link.
KORCORE_EXPORT bool MoveFileW(const QString& source, const QString& target);

// Whether the file or folder can be opened for reading.
KORCORE_EXPORT bool isReadable(const QString& path);
// Whether a file can be created and written in dir; no probe file remains.
KORCORE_EXPORT bool doesDirectoryAllowRW(const QString& dir);
// Whether a file can be created in dir and removed again.
KORCORE_EXPORT bool doesDirectoryAllowRWD(const QString& dir);

// Deletes a file (closing it first), widening its permissions for a second
// try; logs on the caller's log object. A missing file counts as deleted.
KORCORE_EXPORT bool _deleteFile(const QString& path, Kor::LogObject* log, const Kor::String& logName);
KORCORE_EXPORT bool _deleteFile(QFile& file, Kor::LogObject* log, const Kor::String& logName);
// Deletes the files of dir (not its sub-folders) that match the filters.
KORCORE_EXPORT void DeleteFiles(const QString& dir, const QList<QString>& nameFilters);
// Removes dir and then each parent while it is empty, up to but never
// including stopDir. False when a folder on the way is not empty or cannot
// be removed, and when dir does not lie below stopDir.
KORCORE_EXPORT bool RemoveEmptyDirectories(const QString& dir, const QString& stopDir);

// Bytes allocated to the file on disk; its length when that cannot be
// asked; -1 when it does not exist.
KORCORE_EXPORT qint64 GetFileSizeOnDisk(const QString& path);
// Locks the whole of an open file until it is closed; never waits.
KORCORE_EXPORT bool TryLockFile(QFile* file);
// Sets last access and last write time; a null or invalid date-time leaves
// that time unchanged. A creation time cannot be set on this system.
KORCORE_EXPORT bool SetFileTime(const QString& path, const QDateTime& created, const QDateTime& lastAccess,
                                const QDateTime& lastWrite);
// Sets or clears Windows file-attribute bits (1 = read-only).
KORCORE_EXPORT bool SetFileAttribute(const QString& path, int attribute, bool set);
// Lower-case hexadecimal MD5 of the file's contents, or empty.
KORCORE_EXPORT QString GetFileCheckSum(const QString& path);
// Bytes free to the caller and total bytes of the volume holding path.
KORCORE_EXPORT bool GetAvailableDiskSpace(const QString& path, quint64& freeBytes, quint64& totalBytes);
// Processors this process may run on.
KORCORE_EXPORT int GetNumberOfProcessors();

} // namespace Kor::NS
