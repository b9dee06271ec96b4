#include <Kor/ShareStream.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Kor::ShareStream;

class tst_ShareStream : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QByteArray m_path = m_dir.filePath(QStringLiteral("kor.pid")).toLocal8Bit();

    QByteArray contents() const
    {
        QFile file(QString::fromLocal8Bit(m_path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }
    void write(const QByteArray& content) const
    {
        QFile file(QString::fromLocal8Bit(m_path));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QFile::remove(QString::fromLocal8Bit(m_path));
    }

    // The pid file tests show a writer keeping others out. Sharing
    // everything takes no lock; a new file has the permissions asked for,
    // whatever the umask.
    void shareAllAndPermissions()
    {
        ShareStream first;
        QVERIFY(first.open(m_path.constData(), 3, 0x20, 0600));
        QCOMPARE(QFile::permissions(QString::fromLocal8Bit(m_path)),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        ShareStream writeOnly;
        QVERIFY(!writeOnly.open(m_path.constData(), 2, 0x20, 0644));
        QCOMPARE(writeOnly.error(), EAGAIN);
        QVERIFY(ShareStream().open(m_path.constData(), 3, 0x40, 0644));
    }

    void overwritesAndTruncates()
    {
        write("1234567\nold tail\n");
        {
            ShareStream stream;
            QVERIFY(stream.open(m_path.constData(), 3, 0x20, 0644));
            QCOMPARE(contents(), QByteArray("1234567\nold tail\n")); // opening does not truncate
            stream << 42 << '\n';
            QVERIFY(stream.flush());
            QCOMPARE(contents(), QByteArray("42\n"));
            stream << "pid " << Kor::String("x") << -7LL << 18446744073709551615ULL << '\n'; // flushed on closing
        }
        QCOMPARE(contents(), QByteArray("42\npid x-718446744073709551615\n"));
        QVERIFY(ShareStream().open(m_path.constData(), 3, 0x20, 0644)); // writing nothing leaves the file as it is
        QCOMPARE(contents(), QByteArray("42\npid x-718446744073709551615\n"));

        ShareStream reader;
        QVERIFY(reader.open(m_path.constData(), 1, 0x20, 0644));
        reader << 1LL;
        QVERIFY(reader.fail()); // not open for writing
        QCOMPARE(reader.error(), EBADF);
    }

    void readsFirstInteger_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<long long>("value");
        QTest::newRow("pid line") << QByteArray("12345\n") << true << 12345LL;
        QTest::newRow("leading blanks") << QByteArray(" \t\r\n  77 88") << true << 77LL;
        QTest::newRow("negative") << QByteArray("-15x") << true << -15LL;
        QTest::newRow("largest") << QByteArray("9223372036854775807") << true << 9223372036854775807LL;
        QTest::newRow("smallest") << QByteArray("-9223372036854775808") << true << (-9223372036854775807LL - 1);
        QTest::newRow("too large") << QByteArray("9223372036854775808") << false << 0LL;
        QTest::newRow("empty") << QByteArray() << false << 0LL;
        QTest::newRow("text") << QByteArray("pid=12") << false << 0LL;
        QTest::newRow("sign only") << QByteArray("-\n") << false << 0LL;
        QTest::newRow("long run of blanks") << QByteArray(5000, ' ') + "31" << true << 31LL; // spans read chunks
    }
    void readsFirstInteger()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, ok);
        QFETCH(long long, value);
        write(content);
        ShareStream reader;
        QVERIFY(reader.open(m_path.constData(), 1, 0x20, 0644));
        long long got = -1;
        reader >> got;
        QCOMPARE(!reader.fail(), ok);
        QCOMPARE(got, value);
    }

    void refusedOpens_data()
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
    void refusedOpens()
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
};

QTEST_GUILESS_MAIN(tst_ShareStream)
#include "tst_sharestream.moc"
