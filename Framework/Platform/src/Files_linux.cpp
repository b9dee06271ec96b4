#include "PlatformFiles.h"

#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace Kor::Platform {

namespace {

// Where the attribute bits other than read-only live, as decimal text.
constexpr const char* AttributeXattr = "user.kor.attributes";
constexpr std::size_t CopyBlock = 1 << 20;
constexpr mode_t AllWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

int openRetrying(const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool readOpenFile(int fd, std::size_t maxBytes, std::string& content, int& error)
{
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        error = errno;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = NotARegularFile;
        return false;
    }
    if (std::uint64_t(st.st_size) > maxBytes) {
        error = EFBIG;
        return false;
    }
    // Room for the size fstat gave and one byte more, which tells a file that
    // grew meanwhile; the buffer then doubles, up to one byte past the limit.
    content.resize(std::size_t(st.st_size) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == content.size()) {
            if (filled > maxBytes) {
                error = EFBIG;
                return false;
            }
            content.resize(std::min(maxBytes + 1, 2 * filled));
        }
        const ssize_t got = ::read(fd, content.data() + filled, content.size() - filled);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        filled += std::size_t(got);
    }
    content.resize(filled);
    return true;
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A fresh, hidden, uniquely named file in folder for a copy in progress.
int createTemporaryBeside(const std::string& target, std::string& name, int& error)
{
    std::string pattern = folderOf(target) + "/.kor-move-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    name.assign(buffer.data());
    return fd;
}

bool copyContents(int from, int to, int& error)
{
    bool plainCopy = false;
    std::vector<char> buffer;
    for (;;) {
        if (!plainCopy) {
            const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, CopyBlock, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return true;
            if (errno == EINTR)
                continue;
            // Older kernels and some file systems cannot do it; read and
            // write then.
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
                error = errno;
                return false;
            }
            plainCopy = true;
            buffer.resize(CopyBlock);
        }
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            return false;
        }
        if (n == 0)
            return true;
        std::size_t done = 0;
        while (done < std::size_t(n)) {
            const ssize_t w = ::write(to, buffer.data() + done, std::size_t(n) - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                error = w < 0 ? errno : EIO;
                return false;
            }
            done += std::size_t(w);
        }
    }
}

// Copies the extended attributes of the user namespace, which carry the
// attribute bits among others. A target file system without them cannot
// keep them, as mv finds too; that does not fail the move.
bool copyUserAttributes(int from, int to, int& error)
{
    std::vector<char> names;
    for (;;) {
        const ssize_t size = ::flistxattr(from, nullptr, 0);
        if (size < 0) {
            if (errno == ENOTSUP)
                return true;
            error = errno;
            return false;
        }
        names.resize(std::size_t(size));
        const ssize_t got = size == 0 ? 0 : ::flistxattr(from, names.data(), names.size());
        if (got >= 0) {
            names.resize(std::size_t(got));
            break;
        }
        if (errno != ERANGE) { // grew meanwhile: ask again
            error = errno;
            return false;
        }
    }
    std::vector<char> value;
    for (std::size_t at = 0; at < names.size();) {
        const char* name = names.data() + at;
        at += std::strlen(name) + 1;
        if (std::strncmp(name, "user.", 5) != 0)
            continue;
        ssize_t size = ::fgetxattr(from, name, nullptr, 0);
        if (size >= 0) {
            value.resize(std::size_t(size));
            size = size == 0 ? 0 : ::fgetxattr(from, name, value.data(), value.size());
        }
        if (size < 0) {
            if (errno == ENODATA) // removed meanwhile
                continue;
            error = errno;
            return false;
        }
        if (::fsetxattr(to, name, value.data(), std::size_t(size), 0) != 0) {
            if (errno == ENOTSUP)
                return true;
            error = errno;
            return false;
        }
    }
    return true;
}

// Owner and group as far as the caller may give them away: root keeps both,
// anyone else at least a group they belong to.
void copyOwner(int to, const struct stat& st)
{
    if (::fchown(to, st.st_uid, st.st_gid) != 0)
        (void)::fchown(to, uid_t(-1), st.st_gid);
}

// Copies a regular file into a temporary beside target, flushed to disk, and
// renames it over target. On failure nothing new is left.
bool copyFileOver(const std::string& source, const struct stat& st, const std::string& target, int& error)
{
    const int from = openRetrying(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (from < 0) {
        error = errno;
        return false;
    }
    std::string temporary;
    const int to = createTemporaryBeside(target, temporary, error);
    if (to < 0) {
        ::close(from);
        return false;
    }
    const struct timespec times[2] = { st.st_atim, st.st_mtim };
    bool ok = copyContents(from, to, error) && copyUserAttributes(from, to, error);
    // The owner before the mode, since a change of owner clears the set-id
    // bits; both after the attributes, which a read-only file would refuse.
    if (ok)
        copyOwner(to, st);
    if (ok && ::fchmod(to, st.st_mode & 07777) != 0) {
        error = errno;
        ok = false;
    }
    // Carrying the times over is a courtesy, like mv does; it cannot fail the move.
    if (ok)
        (void)::futimens(to, times);
    if (ok && ::fsync(to) != 0) {
        error = errno;
        ok = false;
    }
    ::close(from);
    if (::close(to) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}

bool copyLinkOver(const std::string& source, const std::string& target, int& error)
{
    std::vector<char> destination(PATH_MAX + 1);
    const ssize_t n = ::readlink(source.c_str(), destination.data(), destination.size() - 1);
    if (n < 0) {
        error = errno;
        return false;
    }
    destination[std::size_t(n)] = '\0';
    // A unique name first, so that an existing target is replaced in one step.
    std::string temporary;
    const int fd = createTemporaryBeside(target, temporary, error);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(temporary.c_str());
    if (::symlink(destination.data(), temporary.c_str()) != 0) {
        error = errno;
        return false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

bool movePath(const std::string& source, const std::string& target, int& error)
{
    struct stat st{};
    if (source.empty() || target.empty()) {
        error = ENOENT;
        return false;
    }
    if (::lstat(source.c_str(), &st) != 0) {
        error = errno;
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = EISDIR;
        return false;
    }
    if (::rename(source.c_str(), target.c_str()) == 0)
        return true;
    if (errno != EXDEV) {
        error = errno;
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        if (!copyLinkOver(source, target, error))
            return false;
    } else if (S_ISREG(st.st_mode)) {
        if (!copyFileOver(source, st, target, error))
            return false;
    } else {
        error = NotARegularFile;
        return false;
    }
    if (::unlink(source.c_str()) != 0) {
        error = errno;
        return false;
    }
    return true;
}

bool canOpenForReading(const std::string& path, int& error)
{
    // O_NONBLOCK keeps a FIFO without a writer from stalling the probe.
    const int fd = openRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return false;
    }
    if (::close(fd) != 0) {
        error = errno;
        return false;
    }
    return true;
}

bool probeWritableDirectory(const std::string& dir, const std::string& name, int& error)
{
    int fd = openRetrying(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        // Without O_TMPFILE support the kernel reports one of these; any
        // other error is the folder's answer.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            error = errno;
            return false;
        }
        fd = openRetrying((dir + "/" + name).c_str(), O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW,
                          S_IRUSR | S_IWUSR);
        if (fd < 0) {
            error = errno;
            return false;
        }
        ::unlink((dir + "/" + name).c_str());
    }
    const char byte = 0;
    bool ok = true;
    ssize_t n;
    do {
        n = ::write(fd, &byte, 1);
    } while (n < 0 && errno == EINTR);
    if (n != 1) {
        error = n < 0 ? errno : EIO;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    return ok;
}

bool probeRemovableFile(const std::string& dir, const std::string& name, int& error)
{
    const std::string path = dir + "/" + name;
    const int fd = openRetrying(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        error = errno;
        return false;
    }
    ::close(fd);
    if (::unlink(path.c_str()) != 0) {
        error = errno;
        return false;
    }
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0) {
        error = EEXIST;
        return false;
    }
    return true;
}

bool removeDirectory(const std::string& path, int& error)
{
    if (::rmdir(path.c_str()) == 0)
        return true;
    error = errno;
    return false;
}

bool isAccessDenied(int error)
{
    return error == EACCES || error == EPERM;
}

bool isDirectoryNotEmpty(int error)
{
    return error == ENOTEMPTY || error == EEXIST;
}

std::int64_t allocatedSize(const std::string& path, int& error)
{
    const int fd = openRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    struct stat st{};
    const bool ok = ::fstat(fd, &st) == 0;
    if (!ok)
        error = errno;
    ::close(fd);
    // st_blocks counts 512-byte units whatever the file system's block size.
    return ok ? std::int64_t(st.st_blocks) * 512 : -1;
}

bool setFileTimes(const std::string& path, const FileTime& access, const FileTime& write, bool& openFailed,
                  int& error)
{
    openFailed = false;
    const int fd = openRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        openFailed = true;
        error = errno;
        return false;
    }
    struct stat before{};
    if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        openFailed = true;
        error = S_ISDIR(before.st_mode) ? EISDIR : NotARegularFile;
        ::close(fd);
        return false;
    }
    auto toTimespec = [](const FileTime& time) {
        struct timespec ts{};
        if (time.set) {
            ts.tv_sec = time_t(time.seconds);
            ts.tv_nsec = time.nanoseconds;
        } else {
            ts.tv_nsec = UTIME_OMIT;
        }
        return ts;
    };
    // A file system keeps times to its own granularity (two seconds on some);
    // a time moved further than that was clamped to the file system's range.
    constexpr std::int64_t Granularity = 2;
    auto held = [](const FileTime& wanted, const struct timespec& stored) {
        const std::int64_t drift = std::int64_t(stored.tv_sec) - wanted.seconds;
        return !wanted.set || (drift >= -Granularity && drift <= Granularity);
    };
    const struct timespec times[2] = { toTimespec(access), toTimespec(write) };
    bool ok = ::futimens(fd, times) == 0;
    struct stat after{};
    if (!ok) {
        error = errno;
    } else if (::fstat(fd, &after) == 0 && !(held(access, after.st_atim) && held(write, after.st_mtim))) {
        error = EOVERFLOW;
        ok = false;
        const struct timespec old[2] = { before.st_atim, before.st_mtim };
        (void)::futimens(fd, old);
    }
    ::close(fd);
    return ok;
}

bool fileAttributes(const std::string& path, unsigned& attributes, int& error)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        error = errno;
        return false;
    }
    unsigned bits = (st.st_mode & AllWriteBits) == 0 ? AttributeReadOnly : 0;
    char text[32];
    const ssize_t n = ::getxattr(path.c_str(), AttributeXattr, text, sizeof text - 1);
    if (n > 0) {
        text[n] = '\0';
        bits |= unsigned(std::strtoul(text, nullptr, 10)) & ~AttributeReadOnly;
    } else if (n < 0 && errno != ENODATA && errno != ENOTSUP) {
        error = errno;
        return false;
    }
    attributes = bits;
    return true;
}

bool setFileAttributes(const std::string& path, unsigned attributes, int& error)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        error = errno;
        return false;
    }
    const mode_t mode = st.st_mode & 07777;
    const bool readOnly = attributes & AttributeReadOnly;
    // The kernel lets only a writer change a file's extended attributes, so
    // a read-only file has the owner's write bit while the attribute is
    // written.
    const mode_t during = (mode & AllWriteBits) == 0 ? mode | S_IWUSR : mode;
    if (during != mode && ::chmod(path.c_str(), during) != 0) {
        error = errno;
        return false;
    }
    const unsigned others = attributes & ~AttributeReadOnly;
    bool ok = true;
    if (others != 0) {
        const std::string text = std::to_string(others);
        ok = ::setxattr(path.c_str(), AttributeXattr, text.data(), text.size(), 0) == 0;
    } else {
        ok = ::removexattr(path.c_str(), AttributeXattr) == 0 || errno == ENODATA || errno == ENOTSUP;
    }
    if (!ok)
        error = errno;
    // Afterwards: the old mode when the write failed, no write bit at all
    // when read-only, else the mode it has now.
    const mode_t after = !ok ? mode : readOnly ? mode & ~AllWriteBits : during;
    if (after != during && ::chmod(path.c_str(), after) != 0) {
        if (ok) // a failed write is the failure to report
            error = errno;
        return false;
    }
    return ok;
}

bool diskSpace(const std::string& path, std::uint64_t& freeBytes, std::uint64_t& totalBytes, int& error)
{
    struct statvfs vfs{};
    int rc;
    do {
        rc = ::statvfs(path.c_str(), &vfs);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        error = errno;
        return false;
    }
    freeBytes = std::uint64_t(vfs.f_bavail) * vfs.f_frsize;
    totalBytes = std::uint64_t(vfs.f_blocks) * vfs.f_frsize;
    return true;
}

bool readWholeFile(const std::string& path, std::size_t maxBytes, std::string& content, int& error)
{
    content.clear();
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = openRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const bool ok = readOpenFile(fd, maxBytes, content, error);
    ::close(fd);
    if (!ok)
        content.clear();
    return ok;
}

bool giveFolderToAccount(const std::string& path, const std::string& account, bool& changed, int& error)
{
    changed = false;
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    const int lookup = ::getpwnam_r(account.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (lookup != 0 || !found) {
        error = lookup != 0 ? lookup : ENOENT;
        return false;
    }
    // Opened without following a link, so that the change lands on the
    // folder that was asked for and nowhere else.
    const int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        error = errno;
        return false;
    }
    const auto give = [&](const char* name) {
        struct stat st{};
        const int flags = *name ? AT_SYMLINK_NOFOLLOW : AT_EMPTY_PATH;
        if (::fstatat(dir, name, &st, flags) != 0)
            return errno;
        if (*name && !S_ISREG(st.st_mode))
            return 0;
        if (st.st_uid == found->pw_uid && st.st_gid == found->pw_gid)
            return 0;
        changed = true;
        return ::fchownat(dir, name, found->pw_uid, found->pw_gid, flags) == 0 ? 0 : errno;
    };
    error = give("");
    if (error == 0) {
        const int listing = ::dup(dir);
        DIR* entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
        if (!entries && listing >= 0)
            ::close(listing);
        while (entries && error == 0) {
            const dirent* item = ::readdir(entries);
            if (!item)
                break;
            if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
                error = give(item->d_name);
        }
        if (entries)
            ::closedir(entries);
    }
    ::close(dir);
    return error == 0;
}

} // namespace Kor::Platform
