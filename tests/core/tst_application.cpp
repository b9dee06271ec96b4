// The application object in-process: construction, registries, parameters,
// the settings store and the machine identity.
#include "ConsoleCommands_p.h"
#include "LogLevelKeys_p.h"
#include "LogLines.h"
#include "LogSettings_p.h"
#include "MachineStore_p.h"

#include <Kor/SocketAddress.h>

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <sys/stat.h>

using namespace Kor::NS;

namespace {

// The [Loglevel] keys of a file as "key=value", sorted.
QStringList logKeys(const QString& path)
{
    QSettings file(path, QSettings::IniFormat);
    file.beginGroup("Loglevel");
    QStringList pairs;
    for (const QString& key : file.childKeys())
        pairs << key + '=' + file.value(key).toString();
    pairs.sort();
    return pairs;
}

QStringList parameterNames(const Application& app)
{
    QStringList names;
    for (const auto& p : app.parameters())
        names << p->getLongName() + QLatin1Char('/') + p->getShortName();
    return names;
}

} // namespace

class tst_Application : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qputenv("KOR_REGISTRY_ROOT", QFile::encodeName(m_dir.filePath("registry")));
        m_app = new Application(sharedCore());
        m_ini = m_dir.filePath("app.ini");
    }

    // The listing of -v shows the load-time registrations; here the lookup of
    // a name never registered and a second registration under one name.
    void dllVersions()
    {
        QCOMPARE(m_app->dllVersionString("never registered"), " 0.00.00");
        Application::registerDLLVersion("Extra", 1, 2, 3);
        Application::registerDLLVersion("Extra", VersionType(4, 5, 6));
        QCOMPARE(m_app->dllVersionString("Extra"), " 4.05.06");
    }

    void parameterReplacement()
    {
        Application& app = *m_app;
        app.registerParameter("alpha", "a", QString(), QString(), Parameter::NoValue, "first");
        app.registerParameter("beta", QString(), QString(), QString(), Parameter::NoValue, "second");
        // Takes alpha's long name: alpha stays under its short name.
        app.registerParameter("alpha", QString(), QString(), QString(), Parameter::NoValue, "third");
        // Takes beta's only name: beta disappears.
        app.registerParameter("beta", "b", QString(), QString(), Parameter::NoValue, "fourth");
        QCOMPARE(parameterNames(app).mid(14), QStringList({ "/a", "alpha/", "beta/b" }));
        // The same long and short name replaces completely, at the end of the list.
        app.registerParameter("beta", "b", QString(), QString(), Parameter::SingleValue, "fifth");
        QCOMPARE(parameterNames(app).mid(14), QStringList({ "/a", "alpha/", "beta/b" }));
        QCOMPARE(app.parameters().last()->getDescription(), "fifth");
        // Losing both names removes a descriptor.
        app.registerParameter("gamma", "a", QString(), QString(), Parameter::NoValue, "sixth");
        app.registerParameter("alpha", QString(), QString(), QString(), Parameter::NoValue, "seventh");
        QCOMPARE(parameterNames(app).mid(14), QStringList({ "beta/b", "gamma/a", "alpha/" }));

        Parameter p("l", "s", "prop", "func", Parameter::NoValue, "text");
        Parameter q("x", "y", "z", "w", Parameter::SingleValue, "other");
        q = p;
        QVERIFY(q == p);
        QCOMPARE(q.getDescription(), "other");
        // Every field but the description takes part in the comparison.
        const std::function<void(Parameter&)> changes[] = {
            [](Parameter& x) { x.setLongName("L"); },     [](Parameter& x) { x.setShortName("S"); },
            [](Parameter& x) { x.setPropertyName("P"); }, [](Parameter& x) { x.setFunctionName("F"); },
            [](Parameter& x) { x.setType(Parameter::MultipleValues); },
        };
        for (const auto& change : changes) {
            q = p;
            change(q);
            QVERIFY(!(q == p));
        }
    }

    // Without a file nothing is kept; then the settings file in use: written
    // back, grouped, removed, re-read.
    void settings()
    {
        QVERIFY(m_app->settingsFileName().isEmpty());
        QVERIFY(!m_app->changeSetting("G/K", 1));
        QCOMPARE(m_app->setting("G/K", 5, false).toInt(), 5);
        QVERIFY(m_app->settings("G").isEmpty());
        QVERIFY(!m_app->containsSetting("G/K"));
        QCOMPARE(m_app->setINIFile(QVariant(m_ini)), Parameter::Continue);
        // The settings object was opened on the empty name before; a new name
        // takes effect through resetSettings().
        m_app->resetSettings();
        QCOMPARE(m_app->setting("G/K", 5, true).toInt(), 5);
        QVERIFY(!QSettings(m_ini, QSettings::IniFormat).contains("G/K"));
        QCOMPARE(m_app->setting("G/K", 5, false).toInt(), 5);
        QCOMPARE(QSettings(m_ini, QSettings::IniFormat).value("G/K").toInt(), 5);
        QCOMPARE(m_app->setting("G/K", 9, false).toString(), "5");
        QVERIFY(m_app->containsSetting("G/K"));

        QVERIFY(m_app->changeSettings({ { "X/A", 1 }, { "X/B", 2 }, { "X/Y/Z", 3 }, { "X", 7 } }));
        const QMap<QString, QVariant> x = m_app->settings("X");
        QCOMPARE(x.value("A").toString(), "1");
        QCOMPARE(x.value("B").toString(), "2");
        QCOMPARE(x.value("").toString(), "7");
        QCOMPARE(x.value("Y").toMap().value("Z").toString(), "3");
        QVERIFY(m_app->containsSettingGroup("X"));
        QVERIFY(!m_app->containsSettingGroup("X/Y"));
        QVERIFY(m_app->changeSettings("Loglevel", { { "Sub", "v" } }));
        QCOMPARE(QSettings(m_ini, QSettings::IniFormat).value("Loglevel/Sub").toString(), "v");
        QVERIFY(m_app->containsSettingGroup("Loglevel"));

        m_app->removeSetting("X");
        QVERIFY(!m_app->containsSetting("X/A") && !m_app->containsSetting("X/Y/Z"));
        m_app->removeSettings(QList<QString>{ "G/K", "Loglevel/Sub" });
        QVERIFY(!m_app->containsSetting("G/K"));

        QSettings(m_ini, QSettings::IniFormat).setValue("Outside/Key", "seen");
        m_app->resetSettings();
        QCOMPARE(m_app->setting("Outside/Key", QString(), true).toString(), "seen");

        const Kor::Uuid id = Kor::Uuid::create();
        QVERIFY(m_app->setting("U/Missing", id, true) == id);
        QVERIFY(!m_app->containsSetting("U/Missing"));
        QVERIFY(m_app->changeSetting("U/Id", id));
        QCOMPARE(QSettings(m_ini, QSettings::IniFormat).value("U/Id").toString(), QString::fromUtf8(id.toString().c_str()));
        QVERIFY(m_app->setting("U/Id", Kor::Uuid(), true) == id);
    }

    void logSwitches_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("result"); // 0 off, 1 on, -1 unreadable
        // Blanks and case do not matter; any number but 0 is on.
        for (const char* on : { "true", " True ", "on", "YES", "1", "-3" })
            QTest::addRow("'%s'", on) << on << 1;
        for (const char* off : { "false", "Off", "no", "0" })
            QTest::addRow("'%s'", off) << off << 0;
        QTest::newRow("word") << "sometimes" << -1;
        QTest::newRow("empty") << "" << -1;
    }

    // The start and every reload read an on/off key alike, as the file has it.
    void logSwitches()
    {
        QFETCH(QString, stored);
        QFETCH(int, result);
        const std::optional<bool> parsed = parseLogSwitch(QVariant(stored));
        QCOMPARE(parsed ? int(*parsed) : -1, result);
    }

    void logSettings_data()
    {
        using Mode = LogSettings::Mode;
        QTest::addColumn<bool>("atStart");
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<QByteArray>("content"); // of [Loglevel]
        QTest::addColumn<QString>("changes"); // from the class's defaults, as apply() says them
        QTest::addColumn<QString>("others"); // the fields apply() leaves alone
        QTest::addColumn<QString>("warnings");
        QTest::addColumn<QString>("written"); // keys added or changed
        const QString levels = "Console=TRACE DebugWindow=TRACE Global=TRACE LogFile=TRACE ";
        const QString async = "LogFileAsyncBufferSize=10485760 ";
        const QString file = "LogFileBufferSize=4096 LogFileEnableAsyncWriting=true LogFileFlush=1 LogFileWarning=100";
        const QString written = levels + async + file;

        QTest::newRow("start, console, empty") << true << Mode::Console << QByteArray() << "nothing changed" << "" << "" << written;
        QTest::newRow("start, service, empty")
            << true << Mode::Service << QByteArray() << "Console TRACE -> DISABLED, DebugWindow TRACE -> DISABLED" << ""
            << "" << "Global=TRACE Journal=INFO LogFile=TRACE " + async + file;
        QTest::newRow("start, service, levels repaired")
            << true << Mode::Service << QByteArray("Global=info\nLogFile=2\nJournal=verbose\n")
            << "Global TRACE -> INFO, LogFile TRACE -> INFO, Console TRACE -> DISABLED, DebugWindow TRACE -> DISABLED, "
               "Journal INFO -> TRACE"
            << "" << "" << "Journal=TRACE LogFile=INFO " + async + file;
        QTest::newRow("start, console, levels repaired")
            << true << Mode::Console << QByteArray("Console=-1\nDebugWindow=4\nGlobal=Always\nLogFile=9\n")
            << "Global TRACE -> ALWAYS, DebugWindow TRACE -> DISABLED" << "" << ""
            << "Console=TRACE DebugWindow=DISABLED LogFile=TRACE " + async + file;
        QTest::newRow("start, file writing")
            << true << Mode::Console
            << QByteArray("LogFileEnableAsyncWriting=false\nLogFileAsyncBufferSize=1\nLogFileFlush=0\n"
                          "LogFileWarning=80\nLogFileBufferSize=512\n")
            << "LogFileWarning 100 -> 80" << "asyncWriting=false flush=false bufferSize=512" << ""
            << levels.trimmed();
        QTest::newRow("start, layout")
            << true << Mode::Console
            << QByteArray("LogFileAsyncBufferSize=1024\nThreadID=yes\nLoggerNameSize=12\nLoggerNameDotted=on\n"
                          "LoggerNameSeparated=1\n")
            << "ThreadID false -> true, LoggerNameSize 0 -> 12, LoggerNameDotted false -> true, "
               "LoggerNameSeparated false -> true"
            << "asyncBufferSize=1024" << ""
            << levels + file;
        QTest::newRow("start, unreadable switch, name size left")
            << true << Mode::Console << QByteArray("ThreadID=sometimes\nLoggerNameSize=4294967295\n") << "nothing changed"
            << "" << "" << written;
        QTest::newRow("start, history limits")
            << true << Mode::Console << QByteArray("LogFileHistoryMaxFiles=2\nLogFileHistoryMaxMegabytes=1\n")
            << "nothing changed" << "historyMaxFiles=2 historyMaxMegabytes=1" << ""
            << written;
        QTest::newRow("start, bad history limits")
            << true << Mode::Console << QByteArray("LogFileHistoryMaxFiles=-2\nLogFileHistoryMaxMegabytes=99999999999999\n")
            << "nothing changed" << ""
            << "Loglevel/LogFileHistoryMaxFiles '-2' is no number from 0 to 1000000; the history is not limited by it | "
               "Loglevel/LogFileHistoryMaxMegabytes '99999999999999' is no number from 0 to 1073741824; the history is "
               "not limited by it"
            << written;

        // A reload writes nothing and takes only the keys it finds.
        QTest::newRow("reload, levels")
            << false << Mode::Console << QByteArray("Global=INFO\nLogFile=debug\n") << "Global TRACE -> INFO, LogFile TRACE -> DEBUG"
            << "" << "" << "";
        QTest::newRow("reload, service, bad values")
            << false << Mode::Service << QByteArray("LogFile=verbose\nLoggerNameDotted=maybe\nThreadID=true\n")
            << "ThreadID false -> true" << ""
            << "LogFile 'verbose' is no log level, TRACE stays | LoggerNameDotted 'maybe' is neither true nor false, false stays"
            << "";
        QTest::newRow("reload, console, journal and layout")
            << false << Mode::Console
            << QByteArray("Journal=1\nLogFileWarning=80\nLoggerNameSize=20\nLoggerNameSeparated=on\n")
            << "Journal INFO -> DEBUG, LogFileWarning 100 -> 80, LoggerNameSize 0 -> 20, LoggerNameSeparated false -> true"
            << "" << "" << "";
        QTest::newRow("reload, keys only the start reads")
            << false << Mode::Service
            << QByteArray("Console=INFO\nLogFileFlush=0\nLogFileBufferSize=1\nLogFileHistoryMaxFiles=x\n"
                          "LoggerNameSize=4294967295\n")
            << "nothing changed" << "" << "" << "";
    }

    // Read from a file and compared with the defaults; the start writes back
    // what it fills in or repairs.
    void logSettings()
    {
        QFETCH(bool, atStart);
        QFETCH(LogSettings::Mode, mode);
        QFETCH(QByteArray, content);
        QFETCH(QString, changes);
        QFETCH(QString, others);
        QFETCH(QString, warnings);
        QFETCH(QString, written);
        const QString path = m_dir.filePath("log.ini");
        QVERIFY(writeFile(path, content.isEmpty() ? QByteArray() : "[Loglevel]\n" + content));
        const QStringList before = logKeys(path);
        LogSettings base;
        base.mode = mode;
        LogSettings::Reading reading;
        if (atStart) {
            QCOMPARE(m_app->setINIFile(QVariant(path)), Parameter::Continue);
            m_app->resetSettings();
            ApplicationLogSource source(*m_app);
            reading = LogSettings::read(source, mode, base, LogSettings::Occasion::Start);
            QCOMPARE(m_app->setINIFile(QVariant(m_ini)), Parameter::Continue);
            m_app->resetSettings();
        } else {
            const QSettings file(path, QSettings::IniFormat);
            FileLogSource source(file);
            reading = LogSettings::read(source, mode, base, LogSettings::Occasion::Reload);
        }
        const LogSettings& next = reading.settings;
        QCOMPARE(LogSettings::apply(next, &base), changes);
        LogSettings::apply(base, &next);
        QStringList differing;
        const auto other = [&](const char* name, auto LogSettings::*field) {
            if (next.*field != base.*field)
                differing << QString::fromLatin1(name) + '=' + QVariant(next.*field).toString();
        };
        other("asyncWriting", &LogSettings::asyncWriting);
        other("asyncBufferSize", &LogSettings::asyncBufferSize);
        other("flush", &LogSettings::flush);
        other("bufferSize", &LogSettings::bufferSize);
        other("historyMaxFiles", &LogSettings::historyMaxFiles);
        other("historyMaxMegabytes", &LogSettings::historyMaxMegabytes);
        QCOMPARE(differing.join(' '), others);
        QCOMPARE(reading.warnings.join(" | "), warnings);
        QStringList after = logKeys(path);
        after.removeIf([&](const QString& pair) { return before.contains(pair); });
        QCOMPARE(after.join(' '), written);
    }

    // A reload compares with what the operator last typed.
    void keyboardChangesTheSettingsInForce()
    {
        LogSettings inForce = LogSettings().inForce();
        const bool threadIds = inForce.threadId;
        runConsoleCommand("lf3", inForce);
        runConsoleCommand("LT", inForce);
        runConsoleCommand("ln999", inForce);
        QCOMPARE(inForce.logFile, 3);
        QCOMPARE(inForce.threadId, !threadIds);
        QCOMPARE(inForce.nameSize, 255); // as the module keeps it
        QCOMPARE(inForce, inForce.inForce());
    }

    void machineIdFromStore()
    {
        try {
            Application::getMachineId();
            QFAIL("no machine id, but no exception");
        } catch (const MachineIdException& e) {
            const QString what = QString::fromLocal8Bit(e.what());
            QVERIFY2(what.startsWith("Failed to read MachineID from registry: no [Common] machineId= in "
                                     + m_dir.filePath("registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini") + " or "),
                     qPrintable(what));
            QVERIFY(what.contains("KOR_REGISTRY_ROOT"));
        }
        QVERIFY_THROWS_EXCEPTION(MachineIdException, Application::getCallPoolId());

        // Only the 32-bit view holds a value; a broken first file is no value.
        QDir().mkpath(m_dir.filePath("registry/HKEY_LOCAL_MACHINE/SOFTWARE/Wow6432Node"));
        QVERIFY(writeFile(m_dir.filePath("registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini"),
                          "[Common\nmachineId={not-a-uuid}\n"));
        QVERIFY(writeFile(m_dir.filePath("registry/HKEY_LOCAL_MACHINE/SOFTWARE/Wow6432Node/Kor.ini"),
                          "[Common]\nmachineId={6f9619ff-8b86-d011-b42d-00c04fc964ff}\n"));
        const Kor::Uuid expected("{6f9619ff-8b86-d011-b42d-00c04fc964ff}");
        QVERIFY(Application::getMachineId() == expected);
        QVERIFY(Application::getCallPoolId() == expected);

        const Kor::Uuid simulated = Kor::Uuid::create();
        Application::setSimulatedMachineId(simulated);
        QVERIFY(Application::getMachineId() == simulated);
        QVERIFY(Application::getCallPoolId() == simulated);
    }

    void machineStoreValues_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QVariant>("value"); // of Common/UpdaterConfigPath
        const QVariant none;
        QTest::newRow("list separator and comment mark") << QByteArray("[Common]\nUpdaterConfigPath=/srv/a,b;c\n")
                                                         << QVariant("/srv/a,b;c");
        QTest::newRow("blanks, CRLF, comments") << QByteArray("; note\r\n[ Common ]\r\n# x\r\n UpdaterConfigPath = /u p \r\n")
                                                << QVariant("/u p");
        QTest::newRow("first of two") << QByteArray("[Common]\nUpdaterConfigPath=/one\nUpdaterConfigPath=/two\n")
                                      << QVariant("/one");
        QTest::newRow("empty value") << QByteArray("[Common]\nUpdaterConfigPath=\n") << QVariant("");
        QTest::newRow("other section") << QByteArray("[Other]\nUpdaterConfigPath=/x\n") << none;
        QTest::newRow("no section") << QByteArray("UpdaterConfigPath=/x\n") << none;
        QTest::newRow("unclosed section") << QByteArray("[Common\nUpdaterConfigPath=/x\n") << none;
        QTest::newRow("key case") << QByteArray("[Common]\nupdaterconfigpath=/x\n") << none;
        QTest::newRow("binary") << QByteArray("\x00\xff[[[=\n=\n", 9) << none;
        QTest::newRow("folder") << QByteArray() << none;
        QTest::newRow("FIFO") << QByteArray() << none;
        // The last line of the largest store file still counts; one byte more
        // and the file is refused.
        const QByteArray tail("[Common]\nUpdaterConfigPath=/last\n");
        const QByteArray filler = ';' + QByteArray(1024 * 1024 - tail.size() - 2, 'f') + '\n';
        QTest::newRow("largest file") << filler + tail << QVariant("/last");
        QTest::newRow("one byte too large") << ' ' + filler + tail << none;
    }

    void machineStoreValues()
    {
        QFETCH(QByteArray, content);
        QFETCH(QVariant, value);
        const QString folder = m_dir.filePath("registry/HKEY_LOCAL_MACHINE/SOFTWARE");
        const QString file = folder + "/Probe.ini";
        QDir().mkpath(folder);
        QFile::remove(file);
        QDir().rmdir(file);
        const QByteArray tag = QTest::currentDataTag();
        if (tag == "folder")
            QVERIFY(QDir().mkdir(file));
        else if (tag == "FIFO")
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        else
            QVERIFY(writeFile(file, content));
        QCOMPARE(MachineStore::value("HKEY_LOCAL_MACHINE\\SOFTWARE\\Probe", "Common/UpdaterConfigPath"), value);
    }

    // Neither read (a FIFO blocks) nor written (saving renames a new file over
    // the path): the settings answer with their defaults, also through a link.
    void settingsOnNonRegularFile()
    {
        const QString fifo = m_dir.filePath("fifo.ini");
        const QString link = m_dir.filePath("link.ini");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(QFile::link(fifo, link));
        for (const QString& path : { fifo, link }) {
            QCOMPARE(m_app->setINIFile(QVariant(path)), Parameter::Continue);
            m_app->resetSettings();
            QCOMPARE(m_app->setting("G/K", 5, false).toInt(), 5);
            QVERIFY(!m_app->changeSetting("G/K", 6));
            QVERIFY(!m_app->containsSetting("G/K"));
            QVERIFY(QFileInfo(link).isSymLink() && QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
        }
        QCOMPARE(m_app->setINIFile(QVariant(m_ini)), Parameter::Continue);
        m_app->resetSettings();
    }

    void updaterPathDefault()
    {
        const QString expected = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath("../../Updater/config");
        QCOMPARE(m_app->updaterConfigPath(), expected);
        QCOMPARE(m_app->updaterConfigPath("setup.xml"), QDir(expected).absoluteFilePath("setup.xml"));
        QCOMPARE(m_app->updaterConfigPath("/abs/file.xml"), "/abs/file.xml");
    }

    void protocolSwitches()
    {
        const int saved = Kor::SocketAddress::s_AllowedTypes;
        const bool expected[3][2] = { { true, true }, { true, false }, { false, true } };
        for (int policy = 0; policy < 3; ++policy) {
            Kor::SocketAddress::s_AllowedTypes = policy;
            QCOMPARE(Application::isIPv4Enabled(), expected[policy][0]);
            QCOMPARE(Application::isIPv6Enabled(), expected[policy][1]);
        }
        Kor::SocketAddress::s_AllowedTypes = saved;
        QVERIFY(Application::getPrefferedLocalAddress().isEmpty());
    }

    // While the first one lives, and after its end as well.
    void secondApplicationRefused()
    {
        QVERIFY_THROWS_EXCEPTION(MultipleApplicationException, ConsoleApplication(0, nullptr));
        delete m_app;
        m_app = nullptr;
        try {
            Application second(sharedCore());
            QFAIL("a second application was constructed");
        } catch (const MultipleApplicationException& e) {
            QCOMPARE(e.what(), "Only one instance of Application allowed");
        }
    }

    void cleanupTestCase() { delete m_app; }

private:
    QTemporaryDir m_dir;
    Application* m_app = nullptr;
    QString m_ini;
};

QTEST_GUILESS_MAIN(tst_Application)
#include "tst_application.moc"
