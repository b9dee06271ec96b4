#include <Kor/ShareStream.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using Kor::ShareStream;

class tst_ShareStream : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void writerExcludesWriters();
    void overwritesAndTruncates();
    void readsFirstInteger_data();
    void readsFirstInteger();
    void refusedOpens_data();
    void refusedOpens();
    void createsWithPermissions();

private:
    static QByteArray contents(const QByteArray& path);
    QTemporaryDir m_dir;
    QByteArray m_path;
};

void tst_ShareStream::init()
{
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("kor.pid")).toLocal8Bit();
    QFile::remove(QString::fromLocal8Bit(m_path));
}

QByteArray tst_ShareStream::contents(const QByteArray& path)
{
    QFile file(QString::fromLocal8Bit(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void tst_ShareStream::writerExcludesWriters()
{
    ShareStream first;
    QVERIFY(first.open(m_path.constData(), 3, 0x20, 0644));
    first << 4711LL << '\n';
    QVERIFY(first.flush());

    for (int mode : {3, 2}) {
        ShareStream second;
        QVERIFY(!second.open(m_path.constData(), mode, 0x20, 0644));
        QVERIFY(!second.is_open());
        QCOMPARE(second.error(), EAGAIN);
    }
    ShareStream reader;
    QVERIFY(reader.open(m_path.constData(), 1, 0x20, 0644));
    long long pid = 0;
    reader >> pid;
    QVERIFY(!reader.fail());
    QCOMPARE(pid, 4711LL);
    reader.close();
    QVERIFY(!reader.is_open());

    first.close();
    ShareStream next;
    QVERIFY(next.open(m_path.constData(), 3, 0x20, 0644));
    // Sharing everything takes no lock and leaves the holder alone.
    ShareStream unlocked;
    QVERIFY(unlocked.open(m_path.constData(), 3, 0x40, 0644));
}

void tst_ShareStream::overwritesAndTruncates()
{
    QFile old(QString::fromLocal8Bit(m_path));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("1234567\nold tail\n");
    old.close();
    {
        ShareStream stream;
        QVERIFY(stream.open(m_path.constData(), 3, 0x20, 0644));
        QCOMPARE(contents(m_path), QByteArray("1234567\nold tail\n")); // opening does not truncate
        stream << 42 << '\n';
        QVERIFY(stream.flush());
        QCOMPARE(contents(m_path), QByteArray("42\n"));
        stream << "pid " << Kor::String("x") << -7LL << 18446744073709551615ULL << '\n'; // flushed by the destructor
    }
    QCOMPARE(contents(m_path), QByteArray("42\npid x-718446744073709551615\n"));
    {
        ShareStream readOnly; // a stream that writes nothing leaves the file as it is
        QVERIFY(readOnly.open(m_path.constData(), 3, 0x20, 0644));
    }
    QCOMPARE(contents(m_path), QByteArray("42\npid x-718446744073709551615\n"));

    ShareStream reader;
    QVERIFY(reader.open(m_path.constData(), 1, 0x20, 0644));
    reader << 1LL;
    QVERIFY(reader.fail()); // not open for writing
    QCOMPARE(reader.error(), EBADF);
}

void tst_ShareStream::readsFirstInteger_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<long long>("value");
    QTest::newRow("pid line") << QByteArray("12345\n") << true << 12345LL;
    QTest::newRow("leading blanks") << QByteArray(" \t\r\n  77 88") << true << 77LL;
    QTest::newRow("no line feed") << QByteArray("9") << true << 9LL;
    QTest::newRow("negative") << QByteArray("-15x") << true << -15LL;
    QTest::newRow("largest") << QByteArray("9223372036854775807") << true << 9223372036854775807LL;
    QTest::newRow("smallest") << QByteArray("-9223372036854775808") << true << (-9223372036854775807LL - 1);
    QTest::newRow("too large") << QByteArray("9223372036854775808") << false << 0LL;
    QTest::newRow("empty") << QByteArray() << false << 0LL;
    QTest::newRow("text") << QByteArray("pid=12") << false << 0LL;
    QTest::newRow("sign only") << QByteArray("-\n") << false << 0LL;
    QTest::newRow("long run of blanks") << QByteArray(5000, ' ') + "31" << true << 31LL; // spans read chunks
}

void tst_ShareStream::readsFirstInteger()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, ok);
    QFETCH(long long, value);
    QFile file(QString::fromLocal8Bit(m_path));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    ShareStream reader;
    QVERIFY(reader.open(m_path.constData(), 1, 0x20, 0644));
    long long got = -1;
    reader >> got;
    QCOMPARE(!reader.fail(), ok);
    QCOMPARE(got, value);
}

void tst_ShareStream::refusedOpens_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("share");
    const QByteArray missing = m_dir.filePath(QStringLiteral("missing.pid")).toLocal8Bit();
    QTest::newRow("missing file read-only") << missing << 1 << 0x20;
    QTest::newRow("directory read-only") << m_dir.path().toLocal8Bit() << 1 << 0x20;
    QTest::newRow("directory read-write") << m_dir.path().toLocal8Bit() << 3 << 0x20;
    QTest::newRow("empty path") << QByteArray() << 3 << 0x20;
    QTest::newRow("no mode") << missing << 0 << 0x20;
    QTest::newRow("unknown mode") << missing << 7 << 0x20;
    QTest::newRow("unknown share") << missing << 3 << 0x10;
    QTest::newRow("missing folder") << m_dir.filePath(QStringLiteral("no/such.pid")).toLocal8Bit() << 3 << 0x20;
}

void tst_ShareStream::refusedOpens()
{
    QFETCH(QByteArray, path);
    QFETCH(int, mode);
    QFETCH(int, share);
    ShareStream stream;
    QVERIFY(!stream.open(path.constData(), mode, share, 0644));
    QVERIFY(!stream.is_open());
    QVERIFY(stream.error() != 0);
    long long value = 5;
    stream >> value;
    QVERIFY(stream.fail());
    QCOMPARE(value, 0LL);
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("missing.pid"))));
}

void tst_ShareStream::createsWithPermissions()
{
    ShareStream stream;
    QVERIFY(stream.open(m_path.constData(), 2, 0x20, 0600)); // below any usual umask
    struct stat st{};
    QCOMPARE(::stat(m_path.constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0600);
}

QTEST_GUILESS_MAIN(tst_ShareStream)
#include "tst_sharestream.moc"
