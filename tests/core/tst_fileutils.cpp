// The file functions on real files: within and across file systems, on full
// and read-only mounts where the machine lets the test mount a tmpfs.
#include "LogLines.h"

#include <Platform.h>
#include <PlatformFiles.h>

#include <QCryptographicHash>
#include <QFileInfo>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

#include <grp.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace Kor::NS;

namespace {

constexpr uid_t Nobody = 65534;

// What a folder holds, whatever its kind.
constexpr auto Everything = QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot;

// The attribute bits SetFileAttribute() takes.
enum { ReadOnly = 1, Hidden = 2, Archive = 0x20 };

// Root passes every permission check, so what depends on them runs in a
// child under an ordinary user's ids. The child reports through its exit
// code; the files it works on must be that user's.
bool asOrdinaryUser(const std::function<bool()>& check)
{
    if (::geteuid() != 0)
        return check();
    const pid_t child = ::fork();
    if (child == 0) {
        const bool ok = ::setgroups(0, nullptr) == 0 && ::setresgid(Nobody, Nobody, Nobody) == 0
            && ::setresuid(Nobody, Nobody, Nobody) == 0 && check();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

mode_t modeOf(const QString& path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

QByteArray xattr(const QString& path, const char* name)
{
    char value[64];
    const ssize_t n = ::getxattr(QFile::encodeName(path).constData(), name, value, sizeof value);
    return n < 0 ? QByteArray("<none>") : QByteArray(value, int(n));
}

// The attribute bits as the platform layer reads them; ~0 where it cannot.
unsigned attributesOf(const QString& path)
{
    unsigned bits = 0;
    int error = 0;
    return Kor::Platform::fileAttributes(QFile::encodeName(path).toStdString(), bits, error) ? bits : ~0u;
}

} // namespace

class tst_FileUtils : public QObject
{
    Q_OBJECT


    bool logged(const QString& text)
    {
        const QStringList lines = m_log.newLines();
        if (lines.filter(text).isEmpty())
            qWarning() << "not logged:" << text << "in" << lines;
        return !lines.filter(text).isEmpty();
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // A small tmpfs at mnt, gone with the test.
    bool mountTmpfs(const QString& options)
    {
        m_mounted = m_dir.mkdir("mnt")
            && QProcess::execute("mount", { "-t", "tmpfs", "-o", options, "tmpfs", path("mnt") }) == 0;
        return m_mounted;
    }

    QTemporaryDir m_logDir;
    TestLog m_log;
    std::unique_ptr<QTemporaryDir> m_tmp;
    QDir m_dir;
    bool m_mounted = false;

private slots:
    void initTestCase() { m_log.start(m_logDir.filePath("log")); }

    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
        m_dir = QDir(m_tmp->path());
        m_log.newLines();
    }

    void cleanup()
    {
        if (std::exchange(m_mounted, false))
            QProcess::execute("umount", { path("mnt") });
    }

    // Within one file system. A failure never costs a file: neither the source
    // nor an existing target.
    void move_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target"); // "t" exists
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("line");
        QTest::newRow("plain") << "s" << "b" << true << "Moving ";
        QTest::newRow("replaces target") << "s" << "t" << true << "Overwriting existing target file ";
        QTest::newRow("creates folder") << "s" << "new/deeper/b" << true << "Moving ";
        QTest::newRow("through ..") << "s" << "x/../t" << true << "Overwriting existing target file ";
        QTest::newRow("onto itself") << "s" << "s" << true << "Moving ";
        QTest::newRow("missing source") << "missing" << "t" << false << "Failed to move %1: No such file or directory";
        QTest::newRow("empty source") << "" << "t" << false << "Failed to move : No such file or directory";
        QTest::newRow("folder as source") << "dir" << "t" << false << "Failed to move %1: Is a directory";
        QTest::newRow("folder as target") << "s" << "dir" << false << "Failed to remove existing target file %2";
    }

    void move()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(bool, result);
        QFETCH(QString, line);
        QVERIFY(writeFile(path("s"), "source") && writeFile(path("t"), "target"));
        QVERIFY(m_dir.mkdir("dir") && m_dir.mkdir("x"));
        const QString from = source.isEmpty() ? QString() : path(source);
        QCOMPARE(MoveFileW(from, path(target)), result);
        const bool moved = result && source != target;
        QCOMPARE(readFile(path(moved ? target : "s")), "source");
        QCOMPARE(readFile(path(moved ? "s" : "t")), moved ? "" : "target");
        QVERIFY(QFileInfo(path("dir")).isDir());
        QVERIFY(logged(QString(line).replace("%1", from).replace("%2", path(target))));
    }

    // Across file systems the rename fails with EXDEV and the copy takes over;
    // a link stays a link.
    void moveAcrossFileSystems_data()
    {
        QTest::addColumn<bool>("link");
        QTest::addColumn<bool>("targetExists");
        QTest::newRow("file") << false << false;
        QTest::newRow("file over target") << false << true;
        QTest::newRow("link") << true << false;
        QTest::newRow("link over target") << true << true;
    }

    void moveAcrossFileSystems()
    {
        QFETCH(bool, link);
        QFETCH(bool, targetExists);
        QTemporaryDir other(QStringLiteral("/dev/shm/tst_fileutils-XXXXXX"));
        if (!other.isValid() || QStorageInfo(other.path()).device() == QStorageInfo(m_dir.path()).device())
            QSKIP("/dev/shm and the temporary folder are on one file system here");
        const QByteArray content(3 * 1024 * 1024 + 17, 'k');
        const QByteArray data = QFile::encodeName(path("data"));
        const bool root = ::geteuid() == 0;
        QVERIFY(writeFile(path("data"), content));
        QCOMPARE(::chmod(data.constData(), 0700), 0);
        QVERIFY(SetFileAttribute(path("data"), Hidden, true));
        QCOMPARE(::setxattr(data.constData(), "user.origin", "recorder 7", 10, 0), 0);
        QVERIFY(!root || ::chown(data.constData(), Nobody, Nobody) == 0);
        const QString source = link ? path("link") : path("data");
        QVERIFY(!link || QFile::link("data", source));
        const QDir otherDir(other.path());
        const QString target = otherDir.filePath("sub/moved");
        QVERIFY(!targetExists || (otherDir.mkpath("sub") && writeFile(target, "old")));
        QVERIFY(MoveFileW(source, target));
        QVERIFY(!QFileInfo(source).isSymLink() && !QFileInfo::exists(source));
        QCOMPARE(QDir(otherDir.filePath("sub")).entryList(Everything), { "moved" });
        if (link) {
            QCOMPARE(QFileInfo(target).symLinkTarget(), otherDir.filePath("sub/data"));
            QCOMPARE(readFile(path("data")), content); // the link's target was not touched
            return;
        }
        QCOMPARE(readFile(target), content);
        QCOMPARE(modeOf(target), mode_t(0700));
        // As a rename keeps them: the attribute bits, other user attributes
        // (where the target's file system holds them), owner and group.
        if (::setxattr(QFile::encodeName(other.path()).constData(), "user.probe", "1", 1, 0) == 0) {
            QCOMPARE(xattr(target, "user.kor.attributes"), QByteArray("2"));
            QCOMPARE(xattr(target, "user.origin"), QByteArray("recorder 7"));
        }
        QCOMPARE(QFileInfo(target).ownerId(), root ? Nobody : ::geteuid());
        QCOMPARE(QFileInfo(target).groupId(), root ? Nobody : ::getegid());
    }

    // A copy that cannot complete leaves the source and no partial target.
    void moveOntoFullFileSystem()
    {
        if (!mountTmpfs("size=64k"))
            QSKIP("cannot mount a tmpfs here (needs root or CAP_SYS_ADMIN)");
        const QByteArray content(512 * 1024, 'f');
        QVERIFY(writeFile(path("big"), content));
        QVERIFY(!MoveFileW(path("big"), path("mnt/big")));
        QCOMPARE(readFile(path("big")), content);
        QCOMPARE(QDir(path("mnt")).entryList(Everything), {});
        QVERIFY(logged("Failed to move " + path("big") + ": No space left on device"));
    }

    void deleteFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("line");
        QTest::newRow("plain") << "f" << false << true << QString();
        QTest::newRow("read-only") << "f" << true << true << QString();
        QTest::newRow("missing") << "nothing" << false << true << QString();
        QTest::newRow("empty name") << "" << false << false << "Tried to delete file with empty filename.";
        QTest::newRow("folder") << "dir" << false << false << "Failed to delete file '%1' : ";
        // The link goes; its target keeps its content and its permissions.
        QTest::newRow("link to a read-only file") << "link" << true << true << QString();
        QTest::newRow("dangling link") << "dangling" << false << true << QString();
    }

    void deleteFile()
    {
        QFETCH(QString, name);
        QFETCH(bool, readOnly);
        QFETCH(bool, result);
        QFETCH(QString, line);
        QVERIFY(writeFile(path("f"), "x") && m_dir.mkdir("dir"));
        QVERIFY(QFile::link(path("f"), path("link")) && QFile::link(path("gone"), path("dangling")));
        QVERIFY(!readOnly || QFile::setPermissions(path("f"), QFile::ReadOwner));
        const QString target = name.isEmpty() ? QString() : path(name);
        QCOMPARE(_deleteFile(target, Kor::LogObject::getLogObject("Deleter"), Kor::String("sub")), result);
        if (result)
            QVERIFY(!QFileInfo::exists(target) && !QFileInfo(target).isSymLink());
        if (name != "f") {
            QCOMPARE(readFile(path("f")), "x");
            QCOMPARE(modeOf(path("f")) & 0600, readOnly ? 0400u : 0600u);
        }
        const QStringList lines = m_log.newLines();
        QCOMPARE(lines.size(), line.isEmpty() ? 0 : 1);
        if (!line.isEmpty())
            QVERIFY2(lines[0].contains(line.replace("%1", target)) && lines[0].contains("Deleter"),
                     qPrintable(lines[0]));
    }

    void deleteFiles()
    {
        for (const char* name : { "a.tmp", "b.tmp", ".hidden.tmp", "keep.dat" })
            QVERIFY(writeFile(path(name), "x"));
        QVERIFY(m_dir.mkpath("sub.tmp/inner.tmp"));
        // Only what a plain file listing shows goes: no dot files or FIFOs.
        QCOMPARE(::mkfifo(QFile::encodeName(path("pipe.tmp")).constData(), 0600), 0);
        DeleteFiles(m_dir.path(), { "*.tmp" });
        const QStringList kept{ ".hidden.tmp", "keep.dat", "pipe.tmp", "sub.tmp" };
        QCOMPARE(m_dir.entryList(Everything, QDir::Name), kept);
        QVERIFY(QFileInfo::exists(path("sub.tmp/inner.tmp")));
    }

    void permissionsAsOrdinaryUser_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("delete refused by the folder") << "delete";
        QTest::newRow("hidden on a read-only file") << "hidden";
        QTest::newRow("read-only cleared with other bits") << "writable";
    }

    // A read-only file in a read-only folder, both the ordinary user's.
    void permissionsAsOrdinaryUser()
    {
        QFETCH(QString, kind);
        const QString file = path("ro/f");
        QVERIFY(m_dir.mkdir("ro") && writeFile(file, "x"));
        if (::geteuid() == 0)
            for (const QString& name : { m_dir.path(), path("ro"), file })
                QCOMPARE(::chown(QFile::encodeName(name).constData(), Nobody, Nobody), 0);
        QVERIFY(kind != "writable" || SetFileAttribute(file, Archive, true));
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0444), 0);
        QCOMPARE(::chmod(QFile::encodeName(path("ro")).constData(), 0555), 0);
        const bool ok = asOrdinaryUser([&] {
            if (kind == "delete") // the folder forbids it; the file keeps its mode
                return !_deleteFile(file, nullptr, Kor::String()) && QFileInfo::exists(file) && modeOf(file) == 0444;
            if (kind == "hidden") // the owner may, though the file is read-only
                return SetFileAttribute(file, Hidden, true) && attributesOf(file) == unsigned(ReadOnly | Hidden)
                    && modeOf(file) == 0444;
            return SetFileAttribute(file, ReadOnly, false) && attributesOf(file) == unsigned(Archive)
                && modeOf(file) == 0644;
        });
        QCOMPARE(::chmod(QFile::encodeName(path("ro")).constData(), 0755), 0);
        QVERIFY2(ok, qPrintable(m_log.newLines().join('\n')));
    }

    void lockFile_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        const int r = QIODevice::ReadOnly;
        const int w = QIODevice::WriteOnly;
        const int rw = QIODevice::ReadWrite;
        QTest::newRow("read-only, read-only") << r << r;
        QTest::newRow("read-only, read-write") << r << rw;
        QTest::newRow("read-write, read-only") << rw << r;
        QTest::newRow("write-only, read-write") << w << rw;
    }

    // Exclusive between any two opens, whatever their access; gone with the close.
    void lockFile()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QVERIFY(writeFile(path("locked"), "data"));
        QFile one(path("locked"));
        QFile two(path("locked"));
        QVERIFY(one.open(QIODevice::OpenMode(first)) && two.open(QIODevice::OpenMode(second)));
        QVERIFY(TryLockFile(&one));
        QVERIFY(TryLockFile(&one)); // again on the same open: still ours
        QVERIFY(!TryLockFile(&two));
        one.close();
        QVERIFY(TryLockFile(&two));
        QVERIFY(one.open(QIODevice::OpenMode(first)));
        QVERIFY(!TryLockFile(&one));
        QFile closed(path("locked"));
        QVERIFY(!TryLockFile(&closed) && !TryLockFile(nullptr));
    }

    void probes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<bool>("writable");
        QTest::newRow("folder") << "." << true << true;
        QTest::newRow("a file") << "file" << true << false;
        QTest::newRow("missing") << "missing" << false << false;
        QTest::newRow("dangling link") << "dangling" << false << false;
        // Root may write anywhere the permissions forbid, so a read-only
        // mount is the only honest refusal.
        QTest::newRow("read-only mount") << "mnt" << true << false;
    }

    // The write probes leave nothing behind.
    void probes()
    {
        QFETCH(QString, name);
        QFETCH(bool, readable);
        QFETCH(bool, writable);
        QVERIFY(writeFile(path("file"), "x") && QFile::link(path("gone"), path("dangling")));
        if (name == "mnt" && !mountTmpfs("size=64k,ro"))
            QSKIP("cannot mount a read-only tmpfs here (needs root or CAP_SYS_ADMIN)");
        const QString probed = QDir::cleanPath(path(name));
        QCOMPARE(isReadable(probed), readable);
        if (!readable)
            QVERIFY(logged(QString("Could not check whether \"%1\" is readable (error: 2)").arg(probed)));
        QCOMPARE(doesDirectoryAllowRW(probed), writable);
        QCOMPARE(doesDirectoryAllowRWD(probed), writable);
        QVERIFY(!doesDirectoryAllowRW(QString()) && !doesDirectoryAllowRWD(QString()));
        QCOMPARE(m_dir.entryList(Everything).size(), name == "mnt" ? 3 : 2);
        QCOMPARE(m_log.newLines(), {});
    }

    void prune_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("stop");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("left");
        const QStringList all{ "stop", "stop/a", "stop/a/b", "stop/a/b/c", "stop/full", "stop/full/f" };
        const QStringList pruned{ "stop", "stop/full", "stop/full/f" };
        QTest::newRow("chain") << "stop/a/b/c" << "stop" << true << pruned;
        QTest::newRow("stop itself") << "stop" << "stop" << true << all;
        QTest::newRow("stop with slash") << "stop/a/b/c" << "stop/" << true << pruned;
        QTest::newRow("non-empty in chain") << "stop/full/x" << "stop" << false << all;
        QTest::newRow("missing start") << "stop/none" << "stop" << true << all;
        QTest::newRow("outside stop") << "stop/a/b/c" << "stop/full" << false << all;
        QTest::newRow("climbs out with ..") << "stop/a/b/c/../../../.." << "stop" << false << all;
    }

    void prune()
    {
        QFETCH(QString, start);
        QFETCH(QString, stop);
        QFETCH(bool, result);
        QFETCH(QStringList, left);
        QVERIFY(m_dir.mkpath("stop/a/b/c") && m_dir.mkpath("stop/full/x"));
        QVERIFY(writeFile(path("stop/full/f"), "x"));
        QCOMPARE(RemoveEmptyDirectories(path(start), path(stop)), result);
        QStringList found;
        for (const char* name : { "stop", "stop/a", "stop/a/b", "stop/a/b/c", "stop/full", "stop/full/f" })
            if (QFileInfo::exists(path(name)))
                found << name;
        QCOMPARE(found, left);
        if (QTest::currentDataTag() == QLatin1String("chain")) {
            const QStringList lines = m_log.newLines();
            QCOMPARE(lines.size(), 3);
            QVERIFY(lines[0].endsWith("Removed empty directory " + path("stop/a/b/c")));
            QVERIFY(lines[2].endsWith("Removed empty directory " + path("stop/a")));
        }
    }

    void sizeOnDisk()
    {
        QVERIFY(writeFile(path("small"), "12345"));
        const qint64 small = GetFileSizeOnDisk(path("small"));
        QVERIFY2(small >= 512 && small % 512 == 0, qPrintable(QString::number(small)));
        QVERIFY(writeFile(path("sparse"), QByteArray()) && QFile::resize(path("sparse"), 64 * 1024 * 1024));
        QVERIFY(GetFileSizeOnDisk(path("sparse")) < 1024 * 1024);
        QCOMPARE(GetFileSizeOnDisk(path("missing")), -1);
        QVERIFY(logged("The file  " + path("missing") + " doesn't exist"));
    }

    void times_data()
    {
        QTest::addColumn<QDateTime>("created");
        QTest::addColumn<QDateTime>("access");
        QTest::addColumn<QDateTime>("write");
        QTest::addColumn<bool>("mustHold"); // every file system a recording lives on holds it
        const auto utc = [](int y, int m, int d) { return QDateTime(QDate(y, m, d), QTime(12, 34, 56, 789), Qt::UTC); };
        const QDateTime access = QDateTime::fromMSecsSinceEpoch(1500000000123);
        const QDateTime write = QDateTime::fromMSecsSinceEpoch(1600000000456);
        QTest::newRow("access and write") << QDateTime() << access << write << true;
        // A null time leaves that time alone; a creation time is refused openly.
        QTest::newRow("creation and null access") << write << QDateTime() << access << true;
        for (const QDateTime& time : { utc(1969, 7, 20), utc(2262, 4, 12), utc(2300, 1, 1) })
            QTest::addRow("%d", time.date().year()) << QDateTime() << time << time << true;
        const QDateTime last(QDate(9999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
        QTest::newRow("9999") << QDateTime() << last << last << false;
        QTest::newRow("1600") << QDateTime() << utc(1600, 1, 1) << utc(1600, 1, 1) << false;
    }

    // Set exactly, or refused with the failure line and the old times kept.
    void times()
    {
        QFETCH(QDateTime, created);
        QFETCH(QDateTime, access);
        QFETCH(QDateTime, write);
        QFETCH(bool, mustHold);
        const QDateTime before = QDateTime::fromMSecsSinceEpoch(1400000000000);
        QVERIFY(writeFile(path("f"), "x"));
        QVERIFY(SetFileTime(path("f"), QDateTime(), before, before));
        QVERIFY(logged("for file '" + path("f") + "'"));
        const bool set = SetFileTime(path("f"), created, access, write);
        const QFileInfo info(path("f"));
        QVERIFY(set || !mustHold);
        QCOMPARE(info.lastModified(), set ? write : before);
        if (set)
            QCOMPARE(info.lastRead(), access.isNull() ? before : access);
        if (set && created.isValid())
            QVERIFY(logged("the creation date cannot be set"));
        if (!set)
            QVERIFY(logged("Cannot set file time for file '" + path("f") + "'"));
        QVERIFY(!SetFileTime(path("missing"), QDateTime(), access, write));
        QVERIFY(logged("Cannot open file to set file time for file '" + path("missing") + "'"));
    }

    void attributes()
    {
        QVERIFY(writeFile(path("f"), "x"));
        QVERIFY(SetFileAttribute(path("f"), Hidden | Archive, true));
        QCOMPARE(attributesOf(path("f")), unsigned(Hidden | Archive));
        QVERIFY(logged("Sucessfully set file attribute '34' for file '" + path("f") + "'"));
        QVERIFY(SetFileAttribute(path("f"), ReadOnly, true));
        QCOMPARE(modeOf(path("f")) & 0222, 0u);
        QVERIFY(SetFileAttribute(path("f"), Hidden, false));
        QCOMPARE(attributesOf(path("f")), unsigned(ReadOnly | Archive));
        QVERIFY(SetFileAttribute(path("f"), ReadOnly, false));
        QCOMPARE(modeOf(path("f")) & 0200, 0200u);
        QVERIFY(!SetFileAttribute(path("missing"), Hidden, true));
        QVERIFY(logged("Failed to get file attributes for file '" + path("missing")
                       + "'; Error: 2 No such file or directory"));
    }

    void checksum_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("sum");
        QTest::newRow("empty") << QByteArray() << "d41d8cd98f00b204e9800998ecf8427e";
        QTest::newRow("abc") << QByteArray("abc") << "900150983cd24fb0d6963f7d28e17f72";
        const QByteArray large(3 * 1024 * 1024 + 5, 'z');
        QTest::newRow("several blocks") << large
                                        << QString(QCryptographicHash::hash(large, QCryptographicHash::Md5).toHex());
    }

    void checksum()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, sum);
        QVERIFY(writeFile(path("f"), content));
        QCOMPARE(GetFileCheckSum(path("f")), sum);
        QVERIFY(logged("Calculated checksum for file '" + path("f") + "' is '" + sum + "'"));
        QCOMPARE(GetFileCheckSum(path("missing")), QString());
        const QStringList lines = m_log.newLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith("The file '" + path("missing") + "' doesn't exits: failed to get the checksum"));
        QVERIFY(lines[1].endsWith("Cannot open file '" + path("missing") + "': failed to get the checksum"));
        QCOMPARE(GetFileCheckSum(m_dir.path()), QString());
    }

    // Only the processors this thread may run on count, as under taskset;
    // the platform's own count, the fallback, takes every one online.
    void processorCount()
    {
        cpu_set_t all;
        QCOMPARE(::sched_getaffinity(0, sizeof all, &all), 0);
        QCOMPARE(GetNumberOfProcessors(), CPU_COUNT(&all));
        QVERIFY(Kor::Platform::processorCount() >= CPU_COUNT(&all));
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; CPU_COUNT(&one) == 0; ++cpu)
            if (CPU_ISSET(cpu, &all))
                CPU_SET(cpu, &one);
        QCOMPARE(::sched_setaffinity(0, sizeof one, &one), 0);
        const int count = GetNumberOfProcessors();
        QCOMPARE(::sched_setaffinity(0, sizeof all, &all), 0);
        QCOMPARE(count, 1);
    }
};

QTEST_GUILESS_MAIN(tst_FileUtils)
#include "tst_fileutils.moc"
