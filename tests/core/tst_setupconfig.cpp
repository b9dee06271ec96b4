// The set-up file and the data-folder layout, on real files.
#include "LogLines.h"

#include <Kor/SocketAddress.h>

#include <QSettings>
#include <QTemporaryDir>
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
    void writeRaw(const QByteArray& content) { QVERIFY(writeFile(m_dir.filePath("updater/setup.xml"), content)); }

    QTemporaryDir m_dir;
    TestLog m_log;
    Application* m_app = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(makeRegistry(m_dir.path()));
        m_app = new Application(sharedCore());
        QCOMPARE(m_app->updaterConfigPath("setup.xml"), m_dir.filePath("updater/setup.xml"));
        m_log.start(m_dir.filePath("log"));
        QCOMPARE(m_app->setINIFile(QVariant(m_dir.filePath("app.ini"))), Parameter::Continue);
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
        QCOMPARE(data.installDirPath(), "/opt/kor");
        QCOMPARE(data.driveDirPath(), "/drive");
        QCOMPARE(data.dataDirPath(), "/data");
        QCOMPARE(data.logDirPath(), "/log");
        QCOMPARE(data.korDataPath(), "/kordata");
        QCOMPARE(data.databasePath(), "db:5432");
        QCOMPARE(data.databaseType(), "pg");
        QCOMPARE(data.cipherFilter(), "RC4;DES");
        QCOMPARE(data.aipHosts(), QStringList({ "a ", "", " b" })); // blanks go at the ends only
        QVERIFY(newLogLines().contains("Loaded setup config from " + m_dir.filePath("updater/setup.xml")));
        // Copies are independent.
        SetupConfigData copy(data);
        copy.initDataPaths();
        SetupConfigData moved(data);
        moved = std::move(copy);
        QCOMPARE(moved.callPoolDirPath(), "/kordata/CallPool");
        copy = data; // a moved-from record takes a new value
        QVERIFY(copy.callPoolDirPath().isEmpty());
        QVERIFY(data.callPoolDirPath().isEmpty());
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
        writeRaw(content);
        SetupConfigData data;
        QVERIFY(!data.setupXmlFound());
        QVERIFY(data.dataDirPath().isEmpty());
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
        using Getter = const QString& (SetupConfigData::*)() const;
        const std::pair<Getter, const char*> folders[] = {
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
            { &SetupConfigData::activeCompressionsDirPath, "ActiveCompressions" },
            { &SetupConfigData::packagesSizeDirPath, "PackagesSizePath" },
            { &SetupConfigData::rcInfosDirPath, "RCInfos" },
            { &SetupConfigData::rcInfosFailedDirPath, "RCInfos/Failed" },
            { &SetupConfigData::emotionDetectionDirPath, "EmotionDetection" },
            { &SetupConfigData::notificationsDirPath, "Notifications" },
            { &SetupConfigData::audioAnalysisDirPath, "AudioAnalysis" },
            { &SetupConfigData::activeImportsDirPath, "ActiveImports" },
            { &SetupConfigData::activeRebuildsDirPath, "ActiveRebuilds" },
        };
        for (const auto& [getter, name] : folders)
            QCOMPARE((data.*getter)(), path + '/' + name);
        const QString written = QSettings(m_dir.filePath("app.ini"), QSettings::IniFormat)
                                    .value("RecordingDirectories/DataDir").toString();
        QCOMPARE(written, fromSetup.isEmpty() ? path : fromSettings);
        QVERIFY(line.isEmpty() || newLogLines().contains(line));
        if (fromSetup.isEmpty())
            return;

        data.createKorDataFolders();
        QStringList created;
        for (const QString& entry : newLogLines())
            if (entry.startsWith("Creating configured path "))
                created << entry.mid(QString("Creating configured path ").size() + path.size() + 1);
        QCOMPARE(created, QStringList({ "ActiveCompressions", "ActiveRecordings", "FinishedRecordings",
                                        "FinishedConversations", "CallPool", "InvalidRecordings", "InvalidMetadata",
                                        "PackageCache", "DeviceCache", "Export", "FinishedImports", "InvalidImports",
                                        "PackagesSizePath", "RCInfos", "RCInfos/Failed", "EmotionDetection",
                                        "AudioAnalysis", "Notifications", "ActiveImports", "ActiveRebuilds" }));
        QVERIFY(QDir(path + "/RCInfos/Failed").exists());
        data.createKorDataFolders(); // the second time every folder is there
        QCOMPARE(newLogLines().filter("exists").size(), 20);
    }
};

QTEST_GUILESS_MAIN(tst_SetupConfig)
#include "tst_setupconfig.moc"
