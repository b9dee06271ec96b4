// Call-pool paths from a set-up file of our own, and the time range value.
#include "LogLines.h"

#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTest>

using namespace Kor::NS;

class tst_RecordingPool : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    TestLog m_log;
    QString m_pool;

private slots:
    void initTestCase()
    {
        QVERIFY(makeRegistry(m_dir.path()));
        QVERIFY(writeSetup(m_dir.path(), "<kordata>" + QFile::encodeName(m_dir.filePath("data")) + "</kordata>"));
        auto* app = new Application(sharedCore());
        m_log.start(m_dir.filePath("log"));
        app->initDataPaths();
        m_pool = m_dir.filePath("data/CallPool");
        QCOMPARE(Application::setupConfig()->callPoolDirPath(), m_pool);
    }

    void pathFromToken_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("path");
        const QDateTime may7(QDate(2024, 5, 7), QTime(13, 5));
        QTest::newRow("Y-M") << "Y-M" << may7 << "YEAR_2024//MONTH_05/";
        QTest::newRow("ymdh") << "ymdh" << may7 << "YEAR_2024/MONTH_05/DAY_07/HOUR_13/";
        QTest::newRow("YY") << "YY" << may7 << "YEAR_2024/YEAR_2024/";
        QTest::newRow("empty") << "" << may7 << "";
        QTest::newRow("only unknown") << "xz-9" << may7 << "";
        QTest::newRow("unknown first") << "x-d" << may7 << "DAY_07/";
        QTest::newRow("unknown beyond Latin-1") << QString::fromUtf8("\xE2\x82\xAC" "H\xE2\x82\xAC") << may7 << "HOUR_13//";
        QTest::newRow("invalid time") << "YMDH" << QDateTime() << "";
        QTest::newRow("midnight") << "h" << QDateTime(QDate(2024, 1, 2), QTime(0, 0)) << "HOUR_00/";
    }

    void pathFromToken()
    {
        QFETCH(QString, token);
        QFETCH(QDateTime, time);
        QFETCH(QString, path);
        QCOMPARE(RecordingPool::pathFromToken(token, time), path);
    }

    void packagePaths_data()
    {
        QTest::addColumn<QString>("subPath");
        QTest::addColumn<QString>("folder");
        QTest::newRow("no sub-path") << "" << "";
        QTest::newRow("sub-path") << "YEAR_2024/MONTH_05/" << "/YEAR_2024/MONTH_05/";
        QTest::newRow("absolute sub-path") << "/elsewhere" << "<abs>";
    }

    void packagePaths()
    {
        QFETCH(QString, subPath);
        QFETCH(QString, folder);
        const Kor::Uuid tenant(Kor::String("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
        const Kor::Uuid package(Kor::String("{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}"));
        const QString tenantFolder = m_pool + "/{6f9619ff-8b86-d011-b42d-00c04fc964ff}.KorTenant";
        const QString expected = folder == "<abs>" ? subPath : tenantFolder + folder;
        QCOMPARE(RecordingPool::packagePath(tenant, package, subPath), expected);
        QCOMPARE(RecordingPool::packageFilePath(tenant, package, subPath),
                 QDir::cleanPath(expected) + "/{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}");
    }

    void bytesFree()
    {
        m_log.newLines();
        QDir().rmpath(m_pool);
        QCOMPARE(RecordingPool::bytesFree(), 0u);
        const QStringList lines = m_log.newLines();
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines[0], "E Failed to query available disk space in " + m_pool);

        QVERIFY(QDir().mkpath(m_pool));
        // A tmpfs of its own keeps other writers' bytes out of the comparison.
        const bool mounted = QProcess::execute("mount", { "-t", "tmpfs", "-o", "size=1m", "tmpfs", m_pool }) == 0;
        const quint64 free = RecordingPool::bytesFree();
        const QStorageInfo storage(m_pool);
        if (mounted) {
            QCOMPARE(free, quint64(storage.bytesAvailable()));
            QProcess::execute("umount", { m_pool });
        } else {
            QVERIFY(free > 0 && free <= quint64(storage.bytesTotal()));
        }
    }

    void timeRange_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QTime>("duration");
        QTest::newRow("zero") << qint64(0) << QTime(0, 0);
        QTest::newRow("90 minutes") << qint64(90 * 60 * 1000 + 7) << QTime(1, 30, 0, 7);
        QTest::newRow("25 hours") << qint64(25) * 3600 * 1000 << QTime(1, 0);
        QTest::newRow("40 days") << qint64(40) * 24 * 3600 * 1000 + 1 << QTime(0, 0, 0, 1);
        QTest::newRow("end first") << qint64(-3600 * 1000) << QTime(23, 0);
    }

    // From times or from milliseconds, the same range; an end first wraps
    // the length as unsigned arithmetic does.
    void timeRange()
    {
        QFETCH(qint64, ms);
        QFETCH(QTime, duration);
        const QDateTime begin = QDateTime::fromMSecsSinceEpoch(1715087100123, QTimeZone::utc());
        const TimeRange range(begin, begin.addMSecs(ms));
        QCOMPARE(range.getDuration(), duration);
        QCOMPARE(range.getDurationAsMillis(), quint64(ms));
        QCOMPARE(range.getBeginAsMillis(), quint64(1715087100123));
        QCOMPARE(range.getEndAsMillis(), quint64(1715087100123 + ms));
        TimeRange set;
        QVERIFY(set.getBegin().isNull() && set.getEnd().isNull());
        set.setBeginFromMillis(range.getBeginAsMillis());
        set.setEndFromMillis(range.getEndAsMillis());
        QVERIFY(set == range);
        QVERIFY(TimeRange(range.getBeginAsMillis(), range.getEndAsMillis()) == range);
        set.setEnd(begin);
        QCOMPARE(set == range, ms == 0);
    }
};

QTEST_GUILESS_MAIN(tst_RecordingPool)
#include "tst_recordingpool.moc"
