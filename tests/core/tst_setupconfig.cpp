// The set-up file and the data-folder layout, on real files; the call-pool
// paths and the time range value.
#include "LogLines.h"

#include <Kor/SocketAddress.h>

#include <QProcess>
#include <QSettings>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTest>

using namespace Kor::NS;

class tst_SetupConfig : public QObject
{
    Q_OBJECT

    // Without the type mark.
    QStringList newLogLines()
    {
        QStringList lines = m_log.newLines();
        for (QString& line : lines)
            line = line.mid(line.indexOf(' ') + 1);
        return lines;
    }
    void writeSetup(const QByteArray& settings) { QVERIFY(::writeSetup(m_dir.path(), settings)); }

    QTemporaryDir m_dir;
    TestLog m_log;
    Application* m_app = nullptr;
    QString m_pool;

private slots:
    void initTestCase()
    {
        QVERIFY(makeRegistry(m_dir.path()));
        m_app = new Application(sharedCore());
        QCOMPARE(m_app->updaterConfigPath("setup.xml"), m_dir.filePath("updater/setup.xml"));
        m_log.start(m_dir.filePath("log"));
        QCOMPARE(m_app->setINIFile(QVariant(m_dir.filePath("app.ini"))), Parameter::Continue);
        // The application's own record, read at its first use, holds the call pool.
        writeSetup("<kordata>" + QFile::encodeName(m_dir.filePath("data")) + "</kordata>");
        m_app->initDataPaths();
        m_pool = m_dir.filePath("data/CallPool");
        QCOMPARE(Application::setupConfig()->callPoolDirPath(), m_pool);
    }

    void init() { newLogLines(); }

    void fields()
    {
        writeSetup("<installdir> /opt/kor </installdir><drivedir>\n\t/drive\n</drivedir><datadir>/data</datadir>"
                   "<logdir>/log</logdir><kordata>/kordata</kordata><kordatabase>db:5432</kordatabase>"
                   "<dbtype>pg</dbtype><trmNativeDisabledCipherSuites> RC4;DES </trmNativeDisabledCipherSuites>"
                   "<AIPList>  a ;; b  </AIPList>");
        const SetupConfigData data;
        QVERIFY(data.setupXmlFound());
        QCOMPARE(QStringList({ data.installDirPath(), data.driveDirPath(), data.dataDirPath(), data.logDirPath(),
                               data.korDataPath(), data.databasePath(), data.databaseType(), data.cipherFilter() }),
                 QStringList({ "/opt/kor", "/drive", "/data", "/log", "/kordata", "db:5432", "pg", "RC4;DES" }));
        QCOMPARE(data.aipHosts(), QStringList({ "a ", "", " b" })); // blanks go at the ends only
        QVERIFY(newLogLines().contains("Loaded setup config from " + m_dir.filePath("updater/setup.xml")));
        // Copies are independent.
        SetupConfigData copy(data);
        copy.initDataPaths();
        SetupConfigData moved(data);
        moved = std::move(copy);
        QCOMPARE(moved.callPoolDirPath(), "/kordata/CallPool");
        copy = data; // a moved-from record takes a new value
        QVERIFY(copy.callPoolDirPath().isEmpty() && data.callPoolDirPath().isEmpty());
    }

    void protocols_data()
    {
        QTest::addColumn<QByteArray>("element");
        QTest::addColumn<int>("policy");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("missing") << QByteArray() << 1 << QStringList{ "Missing allowed_protocols, fallback to IPv4 only" };
        QTest::newRow("both") << QByteArray("ipv6, IPv4") << 0 << QStringList{ "Allow IPv4 and IPv6" };
        QTest::newRow("ipv6 alone") << QByteArray("  IPV6 \t") << 2 << QStringList{ "Allow IPv6 only" };
        QTest::newRow("ipv4 alone") << QByteArray("IPv4") << 1 << QStringList{ "Allow IPv4 only" };
        QTest::newRow("ipv6 then invalid") << QByteArray("IPV6,ipx") << 1
            << QStringList{ "Invalid entry in allowed_protocols, fallback to IPv4 only :ipx", "Allow IPv4 only" };
        QTest::newRow("invalid then ipv6") << QByteArray(" tcp ,IPV6") << 0
            << QStringList{ "Invalid entry in allowed_protocols, fallback to IPv4 only :tcp", "Allow IPv4 and IPv6" };
        QTest::newRow("blank entries") << QByteArray(" , ") << 1
            << QStringList{ "Invalid entry in allowed_protocols, fallback to IPv4 only :",
                            "Invalid entry in allowed_protocols, fallback to IPv4 only :", "Allow IPv4 only" };
        QTest::newRow("no entries") << QByteArray("") << 1 << QStringList{ "Allow IPv4 only" };
    }

    void protocols()
    {
        QFETCH(QByteArray, element);
        QFETCH(int, policy);
        QFETCH(QStringList, lines);
        writeSetup(element.isNull() ? QByteArray() : "<allowed_protocols>" + element + "</allowed_protocols>");
        Kor::SocketAddress::s_AllowedTypes = 7;
        SetupConfigData data;
        newLogLines();
        data.initAfterLogCreation();
        QCOMPARE(Kor::SocketAddress::s_AllowedTypes, policy);
        QCOMPARE(newLogLines(), lines);
        // Looked up on first use, under the policy just set.
        const QString expected = element.isNull() ? QString()
                               : QString::fromUtf8(Kor::SocketAddress::getPrefferedLocalAddress().c_str());
        QCOMPARE(data.preferredLocalAddress(), expected);
        QCOMPARE(SetupConfigData(data).preferredLocalAddress(), expected);
    }

    void hostileFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("truncated") << QByteArray("<Setup><Settings><datadir>/x</datad");
        QTest::newRow("not xml") << QByteArray("datadir=/x\n");
        QTest::newRow("entities") << QByteArray("<!DOCTYPE Setup [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;\">]>"
                                                "<Setup><Settings><datadir>&b;</datadir></Settings></Setup>");
        QTest::newRow("external entity") << QByteArray("<!DOCTYPE Setup [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                                                       "<Setup><Settings><datadir>&x;</datadir></Settings></Setup>");
        QTest::newRow("deep") << QByteArray("<Setup><Settings><datadir>/x</datadir></Settings>") + QByteArray("<a>").repeated(5000)
                                     + QByteArray("</a>").repeated(5000) + "</Setup>";
        QTest::newRow("huge") << QByteArray("<Setup><Settings><datadir>/x</datadir></Settings><pad>")
                                     + QByteArray(8 * 1024 * 1024, 'p') + "</pad></Setup>";
        QTest::newRow("wrong encoding") << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                                      "<Setup><Settings><datadir>/d\xE9j\xE0</datadir></Settings></Setup>");
    }

    void hostileFiles()
    {
        QFETCH(QByteArray, content);
        QVERIFY(writeFile(m_dir.filePath("updater/setup.xml"), content));
        SetupConfigData data;
        QVERIFY(!data.setupXmlFound() && data.dataDirPath().isEmpty());
        newLogLines();
        data.initAfterLogCreation();
        const QStringList lines = newLogLines();
        QVERIFY2(!lines.isEmpty() && lines.first() == "Failed to load setup config at " + m_dir.filePath("updater/setup.xml"),
                 qPrintable(lines.join('\n')));
    }

    void dataPaths_data()
    {
        QTest::addColumn<QString>("fromSetup");
        QTest::addColumn<QString>("fromSettings");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("line");
        const QString root = m_dir.filePath("root");
        QTest::newRow("set-up file first") << root << "/srv/data" << root
                                           << "Using data dir from global setup configuration: " + root;
        QTest::newRow("then the settings") << "" << "/srv/data" << "/srv/data"
                                           << "Using data dir from local configuration: /srv/data";
        QTest::newRow("default, written back") << "" << "" << "/var/lib/kor/KORDATA" << "";
    }

    void dataPaths()
    {
        QFETCH(QString, fromSetup);
        QFETCH(QString, fromSettings);
        QFETCH(QString, path);
        QFETCH(QString, line);
        writeSetup(fromSetup.isEmpty() ? QByteArray() : "<kordata>" + QFile::encodeName(fromSetup) + "</kordata>");
        m_app->removeSetting("RecordingDirectories");
        if (!fromSettings.isEmpty())
            QVERIFY(m_app->changeSetting("RecordingDirectories/DataDir", fromSettings));
        SetupConfigData data;
        data.initDataPaths();
        QCOMPARE(data.korDataPath(), path);
        // In the order they are created in.
        using Getter = const QString& (SetupConfigData::*)() const;
        const std::pair<Getter, const char*> folders[] = {
            { &SetupConfigData::activeCompressionsDirPath, "ActiveCompressions" },
            { &SetupConfigData::activeRecordingsDirPath, "ActiveRecordings" },
            { &SetupConfigData::finishedRecordingsDirPath, "FinishedRecordings" },
            { &SetupConfigData::finishedConversationsDirPath, "FinishedConversations" },
            { &SetupConfigData::callPoolDirPath, "CallPool" },
            { &SetupConfigData::invalidRecordingsDirPath, "InvalidRecordings" },
            { &SetupConfigData::invalidMetadataDirPath, "InvalidMetadata" },
            { &SetupConfigData::packageCacheDirPath, "PackageCache" },
            { &SetupConfigData::deviceCacheDirPath, "DeviceCache" },
            { &SetupConfigData::exportTempDirPath, "Export" },
            { &SetupConfigData::finishedImportDirPath, "FinishedImports" },
            { &SetupConfigData::invalidImportDirPath, "InvalidImports" },
            { &SetupConfigData::packagesSizeDirPath, "PackagesSizePath" },
            { &SetupConfigData::rcInfosDirPath, "RCInfos" },
            { &SetupConfigData::rcInfosFailedDirPath, "RCInfos/Failed" },
            { &SetupConfigData::emotionDetectionDirPath, "EmotionDetection" },
            { &SetupConfigData::audioAnalysisDirPath, "AudioAnalysis" },
            { &SetupConfigData::notificationsDirPath, "Notifications" },
            { &SetupConfigData::activeImportsDirPath, "ActiveImports" },
            { &SetupConfigData::activeRebuildsDirPath, "ActiveRebuilds" },
        };
        QStringList expected;
        for (const auto& [getter, name] : folders) {
            QCOMPARE((data.*getter)(), path + '/' + name);
            expected << path + '/' + name;
        }
        const QString written = QSettings(m_dir.filePath("app.ini"), QSettings::IniFormat)
                                    .value("RecordingDirectories/DataDir").toString();
        QCOMPARE(written, fromSetup.isEmpty() ? path : fromSettings);
        QVERIFY(line.isEmpty() || newLogLines().contains(line));
        if (fromSetup.isEmpty())
            return;

        data.createKorDataFolders();
        QStringList created = newLogLines().filter("Creating configured path ");
        QCOMPARE(created.replaceInStrings("Creating configured path ", QString()), expected);
        QVERIFY(QDir(path + "/RCInfos/Failed").exists());
        data.createKorDataFolders(); // the second time every folder is there
        QCOMPARE(newLogLines().filter("exists").size(), 20);
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
        QDir().rmpath(m_pool);
        QCOMPARE(RecordingPool::bytesFree(), 0u);
        QCOMPARE(m_log.newLines(), QStringList{ "E Failed to query available disk space in " + m_pool });

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

QTEST_GUILESS_MAIN(tst_SetupConfig)
#include "tst_setupconfig.moc"
