#pragma once

// Path-level file and folder work for the library's file functions: moving,
// probing, sizes, times, attributes and disk space. Every function reports
// failure through an errno value and never follows a symbolic link unless
// it says so.

#include <cstddef>
#include <cstdint>
#include <string>

// Exported from libVarnet, which holds the one copy of this layer.
#pragma GCC visibility push(default)

namespace Kor::Platform {

// Moves source to target, replacing a target file atomically; a symbolic
// link is moved as the link. Across file systems (EXDEV) the file is copied
// into a hidden file beside the target with what a rename keeps (mode,
// times, owner and group where the caller may set them, the extended
// attributes of the user namespace where the target file system holds
// them), flushed to disk, renamed over the target and only then is the
// source removed. A failed copy leaves the source and any old target as
// they were and no partial file behind. A source that is a folder is
// refused with EISDIR.
bool movePath(const std::string& source, const std::string& target, int& error);

// Whether path (a file or a folder, links followed) can be opened for reading.
bool canOpenForReading(const std::string& path, int& error);

// Whether a file can be created and written in dir. The probe file has no
// name where the file system allows (O_TMPFILE), so nothing is left behind
// even if the process dies; elsewhere dir/name is created and unlinked at
// once.
bool probeWritableDirectory(const std::string& dir, const std::string& name, int& error);

// Whether a file named dir/name can be created and then removed again. The
// file exists only between the two calls; a file of that name left by an
// earlier probe is taken over and removed too.
bool probeRemovableFile(const std::string& dir, const std::string& name, int& error);

// rmdir(): ENOTEMPTY (or EEXIST) for a folder that is not empty.
bool removeDirectory(const std::string& path, int& error);

// Gives a folder and the files directly in it (not what links point to) to
// the account and its group. False with errno when the account is unknown
// (ENOENT) or the owner cannot be changed; changed tells whether anything
// belonged to someone else before.
bool giveFolderToAccount(const std::string& path, const std::string& account, bool& changed, int& error);

// Whether the two errno values mean "access denied" and "folder not empty".
bool isAccessDenied(int error);
bool isDirectoryNotEmpty(int error);

// Bytes allocated to the file (st_blocks * 512), or -1 with error set.
std::int64_t allocatedSize(const std::string& path, int& error);

// A point in time as seconds and nanoseconds (0 to 999,999,999) since the
// Unix epoch, or none: a time that is not set is left as it is.
struct FileTime
{
    bool set = false;
    std::int64_t seconds = 0;
    long nanoseconds = 0;
};

// Sets the last access and last write times of a regular file. A time the
// file system cannot hold (the kernel clamps it silently) is refused with
// EOVERFLOW and the file keeps its old times. openFailed tells a file that
// could not be opened from one whose times were refused.
bool setFileTimes(const std::string& path, const FileTime& access, const FileTime& write, bool& openFailed,
                  int& error);

// File attribute bits as a Windows program knows them. The read-only bit is
// the absence of all write permission; the others are kept in an extended
// attribute. Without extended attribute support the call fails with its errno
// (ENOTSUP) when other bits are asked for. The owner of a read-only file may
// change its bits: the owner's write permission is lent for the moment the
// extended attribute is written.
inline constexpr unsigned AttributeReadOnly = 0x1;
bool fileAttributes(const std::string& path, unsigned& attributes, int& error);
bool setFileAttributes(const std::string& path, unsigned attributes, int& error);

// Bytes free to the calling user and total bytes of the file system that
// holds path.
bool diskSpace(const std::string& path, std::uint64_t& freeBytes, std::uint64_t& totalBytes, int& error);

// Reads the whole of a small regular file (links followed) into content:
// one open, one fstat and reads up to the size it gives. Anything but a
// regular file (a folder, a FIFO, a device) is refused with NotARegularFile
// without blocking or reading it, and a file larger than maxBytes, also one
// that grows past it while being read, with EFBIG.
bool readWholeFile(const std::string& path, std::size_t maxBytes, std::string& content, int& error);

} // namespace Kor::Platform

#pragma GCC visibility pop
