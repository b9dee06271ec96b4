// Log messages and the Qt message bridge, read back from a real log file.
#include "LogLines.h"

#include <Kor/KorCore.h>
#include <Kor/LogModule.h>

#include <QFile>
#include <QProcess>
#include <QSize>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace Kor::NS;

class tst_LogMessage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void routes();
    void disabledMessageCollectsNothing();
    void emptyMessageLogsOneLine();
    void percentSignsStayLiteral();
    void rendering_data();
    void rendering();
    void variants_data();
    void variants();
    void copiesLogTwice();
    void qtBridge();
    void qtFatalEndsProcess();
    void unnamedThreadHasNoLogObject();

private:
    QStringList newLines();

    QTemporaryDir m_dir;
    QString m_logFile;
    qsizetype m_seen = 0;
};

static const Kor::String NoName;

void tst_LogMessage::initTestCase()
{
    m_logFile = m_dir.filePath("messages");
    Kor::LogModule::Start(Kor::LogModule::LogFile, QFile::encodeName(m_logFile).constData(), "test", "test");
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::AllOutputs, Kor::TRACE);
    Kor::LogModule::LogFileFlush(true);
    Kor::LogModule::EnableTime(false);
}

void tst_LogMessage::init()
{
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    newLines(); // forget what earlier tests wrote
}

// The lines that reached the file since the last call.
QStringList tst_LogMessage::newLines()
{
    return newLogLines(m_logFile + ".log", m_seen);
}

void tst_LogMessage::routes()
{
    Kor::LogObject* object = Kor::LogObject::getLogObject("Router");
    LogMessage(object, NoName, Kor::INFO, Kor::LOG_INFO) << "unnamed route";
    LogMessage(object, Kor::String("sub"), Kor::INFO, Kor::LOG_INFO) << "named route";
    LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO) << "module route";
    const QStringList lines = newLines();
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines[0].contains("Router") && !lines[0].contains("Router.sub") && lines[0].endsWith("unnamed route"),
             qPrintable(lines[0]));
    QVERIFY2(lines[1].contains("Router.sub") && lines[1].endsWith("named route"), qPrintable(lines[1]));
    QVERIFY2(!lines[2].contains("Router") && lines[2].endsWith("module route"), qPrintable(lines[2]));
}

void tst_LogMessage::disabledMessageCollectsNothing()
{
    Kor::LogModule::SetGlobalInfoSeverity(Kor::ALWAYS);
    {
        LogMessage message(nullptr, NoName, Kor::DEBUG, Kor::LOG_INFO, "formatted %d", 42);
        message << "text" << 5 << QVariant(QVariantList{ 1, 2 });
        QVERIFY(message.getText().isEmpty());
        QCOMPARE(message.getSeverity(), Kor::DEBUG);
    }
    // The decision is taken once: a later change of the level does not revive it.
    {
        LogMessage message(nullptr, NoName, Kor::DEBUG, Kor::LOG_INFO);
        Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
        message << "still off";
        QVERIFY(message.getText().isEmpty());
    }
    QVERIFY(newLines().isEmpty());
}

void tst_LogMessage::emptyMessageLogsOneLine()
{
    { LogMessage message(nullptr, NoName, Kor::INFO, Kor::LOG_WARNING); }
    QCOMPARE(newLines().size(), 1);
}

void tst_LogMessage::percentSignsStayLiteral()
{
    LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO) << "100% %d %s %n";
    LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO, "%s and %d%%", "text", 5) << " %x";
    const QStringList lines = newLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].endsWith("100% %d %s %n"), qPrintable(lines[0]));
    QVERIFY2(lines[1].endsWith("text and 5% %x"), qPrintable(lines[1]));
}

void tst_LogMessage::rendering_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    auto render = [](const auto& value) {
        LogMessage message(nullptr, NoName, Kor::ALWAYS, Kor::LOG_INFO);
        message << value;
        const QString text = message.getText();
        Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
        return text;
    };
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    QTest::newRow("true") << render(true) << "1";
    QTest::newRow("false") << render(false) << "0";
    QTest::newRow("char 0xE9") << render(char(0xE9)) << QString(QChar(0xE9));
    QTest::newRow("float 0.1") << render(0.1f) << "0.1";
    QTest::newRow("double large") << render(1234567.0) << "1.23457e+06";
    QTest::newRow("int") << render(-5) << "-5";
    QTest::newRow("unsigned long long") << render(18446744073709551615ull) << "18446744073709551615";
    QTest::newRow("short") << render(short(-32768)) << "-32768";
    QTest::newRow("utf8 bytes") << render(QByteArray("K\xC3\xB6r")) << QString::fromUtf8("K\xC3\xB6r");
    QTest::newRow("latin1") << render(QLatin1String("abc")) << "abc";
    QTest::newRow("kor string") << render(Kor::String("base")) << "base";
    const Kor::Uuid id("{6f9619ff-8b86-d011-b42d-00c04fc964ff}");
    QTest::newRow("uuid") << render(id) << "{6f9619ff-8b86-d011-b42d-00c04fc964ff}";
    QTest::newRow("object") << render(static_cast<const Kor::Object&>(id))
                            << QString::fromUtf8(id.toDebugString().c_str());
    QTest::newRow("date") << render(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9, 42))) << "2024/03/05 14:07:09,042";
}

void tst_LogMessage::rendering()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void tst_LogMessage::variants_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty list") << QVariant(QVariantList()) << "()";
    QTest::newRow("nested list") << QVariant(QVariantList{ 1, "x", QVariantList{ 2, 3 } }) << "(1, x, (2, 3))";
    QTest::newRow("map") << QVariant(QVariantMap{ { "b", 2 }, { "a", 1 } }) << "((a, 1)(b, 2))";
    QTest::newRow("empty map") << QVariant(QVariantMap()) << "()";
    QTest::newRow("hash") << QVariant(QVariantHash{ { "k", QVariantList{ 1 } } }) << "((k, (1)))";
    QTest::newRow("string list") << QVariant(QStringList{ "a", "b" }) << "";
    QTest::newRow("number") << QVariant(42) << "42";
    QTest::newRow("not convertible") << QVariant::fromValue(QSize(1, 2)) << "";
}

void tst_LogMessage::variants()
{
    QFETCH(QVariant, value);
    QFETCH(QString, expected);
    LogMessage message(nullptr, NoName, Kor::ALWAYS, Kor::LOG_INFO);
    message << value;
    QCOMPARE(message.getText(), expected.isEmpty() ? value.toString() : expected);
}

void tst_LogMessage::copiesLogTwice()
{
    {
        LogMessage original(nullptr, NoName, Kor::INFO, Kor::LOG_INFO);
        original << "twice";
        LogMessage copy(original);
        QCOMPARE(copy.getText(), "twice");
    }
    const QStringList lines = newLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].endsWith("twice") && lines[1].endsWith("twice"));
}

void tst_LogMessage::qtBridge()
{
    Logging::Install();
    qDebug("bridged debug");
    qWarning("bridged warning");
    qCritical("not bridged critical");
    qInfo("not bridged info");
    Logging::SetQDebugSeverity(Kor::DEBUG);
    Kor::LogModule::SetGlobalInfoSeverity(Kor::INFO);
    qDebug("dropped debug");
    Logging::SetQDebugSeverity(Kor::TRACE);
    Logging::Uninstall();
    qDebug("default output again");
    const QStringList lines = newLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].contains("qDebug") && lines[0].endsWith("bridged debug"), qPrintable(lines[0]));
    QVERIFY2(lines[1].contains("qWarning") && lines[1].endsWith("bridged warning"), qPrintable(lines[1]));
}

void tst_LogMessage::qtFatalEndsProcess()
{
    QProcess helper;
    helper.start(qEnvironmentVariable("KOR_TEST_BINARY_DIR") + "/qfatalhelper", { m_dir.filePath("fatal") });
    QVERIFY(helper.waitForFinished(10000));
    QCOMPARE(helper.exitStatus(), QProcess::CrashExit);
    QFile file(m_dir.filePath("fatal.log"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray log = file.readAll();
    QVERIFY2(log.contains("qFatal") && log.contains("fatal 7"), log.constData());
}

void tst_LogMessage::unnamedThreadHasNoLogObject()
{
    QThread::currentThread()->setObjectName(QString());
    QCOMPARE(currentThreadLogObject(), nullptr);
    QThread::currentThread()->setObjectName("Main\u00e9");
    QCOMPARE(currentThreadLogObject(), Kor::LogObject::getLogObject("Main\xC3\xA9"));
    QThread::currentThread()->setObjectName(QString());
}

QTEST_GUILESS_MAIN(tst_LogMessage)
#include "tst_logmessage.moc"
