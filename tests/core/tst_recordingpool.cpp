// Call-pool paths from a set-up file of our own, and the time range value.
#include "LogLines.h"

#include <Kor/KorCore.h>
#include <Kor/LogModule.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTest>

using namespace Kor::NS;

class tst_RecordingPool : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void constants();
    void pathFromToken_data();
    void pathFromToken();
    void packagePaths_data();
    void packagePaths();
    void bytesFree();

    void timeRangeMillis_data();
    void timeRangeMillis();
    void timeRangeDuration_data();
    void timeRangeDuration();
    void timeRangeValue();

private:
    QStringList newLogLines();

    QTemporaryDir m_dir;
    Application* m_app = nullptr;
    QString m_pool;
    qsizetype m_seen = 0;
};

void tst_RecordingPool::initTestCase()
{
    QDir root(m_dir.path());
    QVERIFY(root.mkpath("registry/HKEY_LOCAL_MACHINE/SOFTWARE"));
    QVERIFY(root.mkpath("updater"));
    QFile store(m_dir.filePath("registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini"));
    QVERIFY(store.open(QIODevice::WriteOnly));
    store.write("[Common]\nUpdaterConfigPath=" + QFile::encodeName(m_dir.filePath("updater")) + "\n");
    store.close();
    QFile setup(m_dir.filePath("updater/setup.xml"));
    QVERIFY(setup.open(QIODevice::WriteOnly));
    setup.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Setup><Settings><kordata>"
                + QFile::encodeName(m_dir.filePath("data")) + "</kordata></Settings></Setup>\n");
    setup.close();
    qputenv("KOR_REGISTRY_ROOT", QFile::encodeName(m_dir.filePath("registry")));
    m_app = new Application(QSharedPointer<QCoreApplication>(QCoreApplication::instance(), [](QCoreApplication*) {}));

    Kor::LogModule::Start(Kor::LogModule::LogFile, QFile::encodeName(m_dir.filePath("log")).constData(), "t", "t");
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::AllOutputs, Kor::TRACE);
    Kor::LogModule::EnableTime(false);
    m_app->initDataPaths();
    m_pool = m_dir.filePath("data/CallPool");
    QCOMPARE(Application::setupConfig()->callPoolDirPath(), m_pool);
}

void tst_RecordingPool::cleanupTestCase()
{
    Kor::LogModule::LogFilePrepareStop();
}

QStringList tst_RecordingPool::newLogLines()
{
    return ::newLogLines(m_dir.filePath("log.log"), m_seen);
}

void tst_RecordingPool::constants()
{
    QCOMPARE(RecordingPool::SubDirLevels, 0);
    QCOMPARE(RecordingPool::SubDirBytes, 2);
}

void tst_RecordingPool::pathFromToken_data()
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

void tst_RecordingPool::pathFromToken()
{
    QFETCH(QString, token);
    QFETCH(QDateTime, time);
    QFETCH(QString, path);
    QCOMPARE(RecordingPool::pathFromToken(token, time), path);
}

void tst_RecordingPool::packagePaths_data()
{
    QTest::addColumn<QString>("subPath");
    QTest::addColumn<QString>("folder");
    QTest::newRow("no sub-path") << "" << "";
    QTest::newRow("sub-path") << "YEAR_2024/MONTH_05/" << "/YEAR_2024/MONTH_05/";
    QTest::newRow("absolute sub-path") << "/elsewhere" << "<abs>";
}

void tst_RecordingPool::packagePaths()
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

void tst_RecordingPool::bytesFree()
{
    newLogLines();
    QDir().rmpath(m_pool);
    QCOMPARE(RecordingPool::bytesFree(), 0u);
    const QStringList lines = newLogLines();
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

void tst_RecordingPool::timeRangeMillis_data()
{
    QTest::addColumn<quint64>("begin");
    QTest::addColumn<quint64>("end");
    QTest::newRow("epoch") << quint64(0) << quint64(1);
    QTest::newRow("now-ish") << quint64(1715087100123) << quint64(1715090700456);
    QTest::newRow("end first") << quint64(1715090700456) << quint64(1715087100123);
}

void tst_RecordingPool::timeRangeMillis()
{
    QFETCH(quint64, begin);
    QFETCH(quint64, end);
    const TimeRange range(begin, end);
    QCOMPARE(range.getBeginAsMillis(), begin);
    QCOMPARE(range.getEndAsMillis(), end);
    QCOMPARE(range.getBegin(), QDateTime::fromMSecsSinceEpoch(qint64(begin)));
    QCOMPARE(range.getDurationAsMillis(), end - begin); // wraps for an end first, as unsigned arithmetic does

    TimeRange set;
    set.setBeginFromMillis(begin);
    set.setEndFromMillis(end);
    QVERIFY(set == range);
}

void tst_RecordingPool::timeRangeDuration_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QTime>("duration");
    QTest::newRow("zero") << qint64(0) << QTime(0, 0);
    QTest::newRow("90 minutes") << qint64(90 * 60 * 1000 + 7) << QTime(1, 30, 0, 7);
    QTest::newRow("25 hours") << qint64(25) * 3600 * 1000 << QTime(1, 0);
    QTest::newRow("40 days") << qint64(40) * 24 * 3600 * 1000 + 1 << QTime(0, 0, 0, 1);
    QTest::newRow("minus an hour") << qint64(-3600 * 1000) << QTime(23, 0);
}

void tst_RecordingPool::timeRangeDuration()
{
    QFETCH(qint64, ms);
    QFETCH(QTime, duration);
    const QDateTime begin = QDateTime::fromMSecsSinceEpoch(1715087100000, QTimeZone::utc());
    const TimeRange range(begin, begin.addMSecs(ms));
    QCOMPARE(range.getDuration(), duration);
    QCOMPARE(range.getDurationAsMillis(), quint64(ms));
}

void tst_RecordingPool::timeRangeValue()
{
    const TimeRange empty;
    QVERIFY(empty.getBegin().isNull() && empty.getEnd().isNull());
    const QDateTime a = QDateTime::fromMSecsSinceEpoch(1000);
    const QDateTime b = QDateTime::fromMSecsSinceEpoch(2000);
    TimeRange range(a, b);
    TimeRange copy = range;
    QVERIFY(copy == range);
    copy.setEnd(a);
    QVERIFY(!(copy == range));
    QCOMPARE(range.getEnd(), b);
    const TimeRange moved = std::move(copy);
    QCOMPARE(moved.getEnd(), a);
    QVERIFY(TimeRange(a, b) == TimeRange(quint64(1000), quint64(2000)));
}

QTEST_GUILESS_MAIN(tst_RecordingPool)
#include "tst_recordingpool.moc"
