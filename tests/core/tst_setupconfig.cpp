// The set-up file and the data-folder layout, on real files.
#include "HostProvider_p.h"
#include "LogLines.h"

#include <Kor/KorCore.h>
#include <Kor/LogModule.h>
#include <Kor/SocketAddress.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Kor::NS;

class tst_SetupConfig : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void fields();
    void hostList_data();
    void hostList();
    void protocols_data();
    void protocols();
    void hostileFiles_data();
    void hostileFiles();
    void dataPathsFromSetup();
    void dataPathsFromSettings();
    void dataPathsDefaultWrittenBack();
    void createFolders();
    void copiesAreIndependent();
    void readsThroughTheProvider();

private:
    void writeSetup(const QByteArray& settingsBody);
    void writeRaw(const QByteArray& content);
    QStringList newLogLines();

    QTemporaryDir m_dir;
    Application* m_app = nullptr;
    qsizetype m_seen = 0;
};

void tst_SetupConfig::initTestCase()
{
    QDir root(m_dir.path());
    root.mkpath("registry/HKEY_LOCAL_MACHINE/SOFTWARE");
    root.mkpath("updater");
    QFile store(m_dir.filePath("registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini"));
    QVERIFY(store.open(QIODevice::WriteOnly));
    store.write("[Common]\nUpdaterConfigPath=" + QFile::encodeName(m_dir.filePath("updater")) + "\n");
    store.close();
    qputenv("KOR_REGISTRY_ROOT", QFile::encodeName(m_dir.filePath("registry")));
    m_app = new Application(QSharedPointer<QCoreApplication>(QCoreApplication::instance(), [](QCoreApplication*) {}));
    QCOMPARE(m_app->updaterConfigPath("setup.xml"), m_dir.filePath("updater/setup.xml"));

    Kor::LogModule::Start(Kor::LogModule::LogFile, QFile::encodeName(m_dir.filePath("log")).constData(), "t", "t");
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::AllOutputs, Kor::TRACE);
    Kor::LogModule::EnableTime(false);
}

void tst_SetupConfig::init()
{
    newLogLines();
}

void tst_SetupConfig::writeRaw(const QByteArray& content)
{
    QFile file(m_dir.filePath("updater/setup.xml"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

void tst_SetupConfig::writeSetup(const QByteArray& settingsBody)
{
    writeRaw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Setup>\n  <Settings>\n" + settingsBody
             + "\n  </Settings>\n</Setup>\n");
}

QStringList tst_SetupConfig::newLogLines()
{
    QStringList lines = ::newLogLines(m_dir.filePath("log.log"), m_seen);
    for (QString& line : lines)
        line = line.mid(line.indexOf(' ') + 1); // drop the type mark
    return lines;
}

void tst_SetupConfig::fields()
{
    writeSetup("<installdir> /opt/kor </installdir><drivedir>\n\t/drive\n</drivedir><datadir>/data</datadir>"
               "<logdir>/log</logdir><kordata>/kordata</kordata><kordatabase>db:5432</kordatabase>"
               "<dbtype>pg</dbtype><trmNativeDisabledCipherSuites> RC4;DES </trmNativeDisabledCipherSuites>");
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
    QVERIFY(data.aipHosts().isEmpty());
    QVERIFY(newLogLines().contains("Loaded setup config from " + m_dir.filePath("updater/setup.xml")));
}

void tst_SetupConfig::hostList_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("hosts");
    QTest::newRow("two") << QByteArray("a;b") << QStringList{ "a", "b" };
    QTest::newRow("double separator") << QByteArray("a;;b") << QStringList{ "a", "", "b" };
    QTest::newRow("inner blanks stay") << QByteArray("  a ; b  ") << QStringList{ "a ", " b" };
    QTest::newRow("only white space") << QByteArray(" \n\t ") << QStringList{};
}

void tst_SetupConfig::hostList()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, hosts);
    writeSetup("<AIPList>" + text + "</AIPList>");
    QCOMPARE(SetupConfigData().aipHosts(), hosts);
}

void tst_SetupConfig::protocols_data()
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

void tst_SetupConfig::protocols()
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

void tst_SetupConfig::hostileFiles_data()
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

void tst_SetupConfig::hostileFiles()
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

void tst_SetupConfig::dataPathsFromSetup()
{
    const QString root = m_dir.filePath("root");
    writeSetup("<kordata>" + QFile::encodeName(root) + "</kordata>");
    QVERIFY(m_app->setINIFile(QVariant(m_dir.filePath("app.ini"))) == Parameter::Continue);
    m_app->resetSettings();
    SetupConfigData data;
    data.initDataPaths();
    QCOMPARE(data.callPoolDirPath(), root + "/CallPool");
    QCOMPARE(data.rcInfosFailedDirPath(), root + "/RCInfos/Failed");
    QCOMPARE(data.exportTempDirPath(), root + "/Export");
    QCOMPARE(data.finishedImportDirPath(), root + "/FinishedImports");
    QCOMPARE(data.packagesSizeDirPath(), root + "/PackagesSizePath");
    QVERIFY(!QFile::exists(m_dir.filePath("app.ini")));
    QVERIFY(newLogLines().contains("Using data dir from global setup configuration: " + root));
}

void tst_SetupConfig::dataPathsFromSettings()
{
    writeSetup(QByteArray());
    QVERIFY(m_app->changeSetting("RecordingDirectories/DataDir", "/srv/data"));
    SetupConfigData data;
    data.initDataPaths();
    QCOMPARE(data.korDataPath(), "/srv/data");
    QCOMPARE(data.activeRebuildsDirPath(), "/srv/data/ActiveRebuilds");
    QVERIFY(newLogLines().contains("Using data dir from local configuration: /srv/data"));
}

void tst_SetupConfig::dataPathsDefaultWrittenBack()
{
    m_app->removeSetting("RecordingDirectories");
    SetupConfigData data;
    data.initDataPaths();
    QCOMPARE(data.korDataPath(), "/var/lib/kor/KORDATA");
    QCOMPARE(QSettings(m_dir.filePath("app.ini"), QSettings::IniFormat).value("RecordingDirectories/DataDir").toString(),
             "/var/lib/kor/KORDATA");
}

void tst_SetupConfig::createFolders()
{
    const QString root = m_dir.filePath("fresh");
    writeSetup("<kordata>" + QFile::encodeName(root) + "</kordata>");
    SetupConfigData data;
    data.initDataPaths();
    newLogLines();
    data.createKorDataFolders();
    const QStringList lines = newLogLines();
    QStringList created;
    for (const QString& line : lines)
        if (line.startsWith("Creating configured path "))
            created << line.mid(QString("Creating configured path ").size() + root.size() + 1);
    QCOMPARE(created, QStringList({ "ActiveCompressions", "ActiveRecordings", "FinishedRecordings",
                                    "FinishedConversations", "CallPool", "InvalidRecordings", "InvalidMetadata",
                                    "PackageCache", "DeviceCache", "Export", "FinishedImports", "InvalidImports",
                                    "PackagesSizePath", "RCInfos", "RCInfos/Failed", "EmotionDetection",
                                    "AudioAnalysis", "Notifications", "ActiveImports", "ActiveRebuilds" }));
    QVERIFY(QDir(root + "/RCInfos/Failed").exists());
    data.createKorDataFolders();
    QCOMPARE(newLogLines().filter("exists").size(), 20);
}

void tst_SetupConfig::copiesAreIndependent()
{
    writeSetup("<datadir>/one</datadir>");
    SetupConfigData first;
    SetupConfigData copy(first);
    SetupConfigData moved(std::move(first));
    copy.initDataPaths();
    QCOMPARE(copy.dataDirPath(), "/one");
    QCOMPARE(moved.dataDirPath(), "/one");
    QVERIFY(moved.callPoolDirPath().isEmpty());
}

// The record asks whatever provides the program's files and settings; with
// none (the application gone) it answers as a record used on its own.
void tst_SetupConfig::readsThroughTheProvider()
{
    struct Fake : HostProvider
    {
        QString machineIdText() const override { return {}; }
        QVariant setting(const QString& key, const QVariant&, bool) override
        {
            return key == QLatin1String("RecordingDirectories/DataDir") ? QVariant("/fake/data") : QVariant();
        }
        QString updaterConfigPath(const QString& fileName) const override { return "/fake/" + fileName; }
        QString callPoolFolder() const override { return {}; }
        QString serviceName() const override { return {}; }
        QString executable() const override { return {}; }
        QString serviceDependencies() const override { return {}; }
        QObject* parameterReceiver() override { return nullptr; }
        void quit() override {}
    } fake;
    HostProvider* const application = hostProvider();
    QVERIFY(application);
    setHostProvider(&fake);
    SetupConfigData fromFake;
    fromFake.initDataPaths();
    setHostProvider(nullptr);
    SetupConfigData fromNone;
    fromNone.initDataPaths();
    setHostProvider(application);
    QVERIFY(newLogLines().join('\n').contains("Failed to load setup config at /fake/setup.xml"));
    QCOMPARE(fromFake.korDataPath(), QStringLiteral("/fake/data"));
    QCOMPARE(fromNone.korDataPath(), QStringLiteral("/var/lib/kor/KORDATA"));
}

QTEST_GUILESS_MAIN(tst_SetupConfig)
#include "tst_setupconfig.moc"
