// Log messages on their way into a real log file: the pieces they take, the
// logger name column, the local 8-bit encoding (compared byte for byte with
// Qt's own conversions) and the Qt message bridge.
#include "LogLines.h"

#include <Kor/LogObject.h>

#include <QSize>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <limits>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace Kor::NS;

static const Kor::String NoName;

namespace {
// Logs from its destructor, which runs at thread exit.
struct LogsAtThreadExit
{
    bool armed = false;
    ~LogsAtThreadExit()
    {
        if (armed)
            LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO) << "at thread exit " << 7;
    }
};

QString render(const auto&... values)
{
    LogMessage message(nullptr, NoName, Kor::ALWAYS, Kor::LOG_INFO);
    (message << ... << values);
    return message.getText();
}
} // namespace

class tst_LogMessage : public QObject
{
    Q_OBJECT


    QTemporaryDir m_dir;
    TestLog m_log;

private slots:
    void initTestCase()
    {
        m_log.start(m_dir.filePath("messages"));
        // Bare lines: only the logger name column and the text.
        Kor::LogModule::EnableType(false);
    }

    void init()
    {
        Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
        Kor::LogModule::SetNameMinSize(0);
        Kor::LogModule::SetNameDotted(false);
        Kor::LogModule::SetNameSeparated(false);
        m_log.newLines(); // forget what earlier tests wrote
    }

    void disabledMessageCollectsNothing()
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
        QVERIFY(m_log.newLines().isEmpty());
    }

    // An empty message still logs its line; a copy logs its own; percent
    // signs in the text stay literal.
    void linesWritten()
    {
        { LogMessage message(nullptr, NoName, Kor::INFO, Kor::LOG_WARNING); }
        QCOMPARE(m_log.newBytes(), QByteArray("\n"));
        {
            LogMessage original(nullptr, NoName, Kor::INFO, Kor::LOG_INFO);
            original << "twice";
            LogMessage copy(original);
            QCOMPARE(copy.getText(), "twice");
        }
        LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO) << "100% %d %s %n";
        LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO, "%s and %d%%", "text", 5) << " %x";
        QCOMPARE(m_log.newLines(), (QStringList{ "twice", "twice", "100% %d %s %n", "text and 5% %x" }));
    }

    void rendering_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("true") << render(true) << "1";
        QTest::newRow("false") << render(false) << "0";
        QTest::newRow("char 0xE9") << render(char(0xE9)) << QString(QChar(0xE9));
        QTest::newRow("float 0.1") << render(0.1f) << "0.1";
        QTest::newRow("double large") << render(1234567.0) << "1.23457e+06";
        QTest::newRow("short") << render(short(-32768)) << "-32768";
        // The digits are written by hand: the extremes and a number after text.
        const qlonglong lowest = std::numeric_limits<qlonglong>::min();
        QTest::newRow("lowest") << render(lowest) << QString::number(lowest);
        QTest::newRow("highest unsigned") << render(std::numeric_limits<qulonglong>::max()) << "18446744073709551615";
        QTest::newRow("after text") << render("x", -1, "|", 10u) << "x-1|10";
        QTest::newRow("latin1") << render(QLatin1String("abc")) << "abc";
        const Kor::Uuid id("{6f9619ff-8b86-d011-b42d-00c04fc964ff}");
        QTest::newRow("uuid") << render(id) << "{6f9619ff-8b86-d011-b42d-00c04fc964ff}";
        QTest::newRow("null uuid") << render(Kor::Uuid()) << QString::fromStdString(Kor::Uuid().toString().str());
        QTest::newRow("object") << render(static_cast<const Kor::Object&>(id))
                                << QString::fromUtf8(id.toDebugString().c_str());
        QTest::newRow("date") << render(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9, 42))) << "2024/03/05 14:07:09,042";
        QTest::newRow("empty list") << render(QVariant(QVariantList())) << "()";
        QTest::newRow("nested list") << render(QVariant(QVariantList{ 1, "x", QVariantList{ 2, 3 } }))
                                     << "(1, x, (2, 3))";
        QTest::newRow("map") << render(QVariant(QVariantMap{ { "b", 2 }, { "a", 1 } })) << "((a, 1)(b, 2))";
        QTest::newRow("empty map") << render(QVariant(QVariantMap())) << "()";
        QTest::newRow("hash") << render(QVariant(QVariantHash{ { "k", QVariantList{ 1 } } })) << "((k, (1)))";
        // Anything else as QVariant::toString gives it.
        QTest::newRow("not convertible") << render(QVariant::fromValue(QSize(1, 2)))
                                         << QVariant::fromValue(QSize(1, 2)).toString();
    }

    void rendering()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    void utf8Pieces_data()
    {
        QTest::addColumn<QByteArray>("piece");
        QTest::newRow("plain") << QByteArray("plain text");
        QTest::newRow("two-byte and four-byte") << QByteArray("caf\xC3\xA9 \xF0\x9F\x98\x80");
        QTest::newRow("leading byte-order mark") << QByteArray("\xEF\xBB\xBFmarked");
        QTest::newRow("stray byte") << QByteArray("a\xFF" "b");
        QTest::newRow("cut at the end") << QByteArray("ab\xE2\x82");
        QTest::newRow("overlong") << QByteArray("\xC0\xAF");
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80z");
        QTest::newRow("long") << QByteArray(700, 'w').append("\xC3\xA9");
    }

    // Whichever of the three 8-bit types carries it, a piece appends what
    // QString::fromUtf8 makes of it, after the text already collected.
    void utf8Pieces()
    {
        QFETCH(QByteArray, piece);
        const QString expected = QStringLiteral("<") + QString::fromUtf8(piece) + QStringLiteral(">");
        QCOMPARE(render("<", piece.constData(), ">"), expected);
        QCOMPARE(render("<", piece, ">"), expected);
        QCOMPARE(render("<", Kor::String(piece.toStdString()), ">"), expected);
    }

    void eightBitLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << QStringLiteral("plain 100% text");
        QTest::newRow("latin") << QStringLiteral("caf\u00e9 \u00fc");
        QTest::newRow("pair") << QString::fromUtf8("smile \xF0\x9F\x98\x80 end");
        QTest::newRow("lone high surrogate") << (QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b"));
        QTest::newRow("lone low surrogate") << (QChar(0xDC00) + QStringLiteral("b"));
        QTest::newRow("high surrogate last") << (QStringLiteral("a") + QChar(0xD83D));
        QTest::newRow("byte-order mark") << (QChar(0xFEFF) + QStringLiteral("a"));
        // Long lines leave the line's own storage; the pairs fall on every
        // position relative to the pieces the module encodes.
        QString pairs = QStringLiteral("x");
        for (int i = 0; i < 400; ++i)
            pairs += QString::fromUtf8("\xF0\x9F\x98\x80");
        QTest::newRow("many pairs") << pairs;
        QTest::newRow("ascii then pairs") << (QString(300, QLatin1Char('a')) + pairs);
        QTest::newRow("very long") << QString(6000, QChar(0x00e9));
    }

    // The module writes the characters as QString::toLocal8Bit gives them.
    void eightBitLine()
    {
        QFETCH(QString, text);
        LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO) << text;
        QCOMPARE(m_log.newBytes(), text.toLocal8Bit() + '\n');
    }

    void loggerNameColumn_data()
    {
        QTest::addColumn<int>("minSize");
        QTest::addColumn<bool>("dotted");
        QTest::addColumn<bool>("separated");
        // tst_logmodule lays out the column itself.
        QTest::newRow("plain") << 0 << false << false;
        QTest::newRow("padded, dotted, separated") << 16 << true << true;
        QTest::newRow("narrower than the name") << 4 << true << true;
    }

    // The three routes of a message give the lines that the log object's and
    // the module's own operations give.
    void loggerNameColumn()
    {
        QFETCH(int, minSize);
        QFETCH(bool, dotted);
        QFETCH(bool, separated);
        Kor::LogModule::SetNameMinSize(minSize);
        Kor::LogModule::SetNameDotted(dotted);
        Kor::LogModule::SetNameSeparated(separated);
        Kor::LogObject* object = Kor::LogObject::getLogObject("Column");
        LogMessage(object, Kor::String("sub"), Kor::INFO, Kor::LOG_INFO) << "text";
        object->Log("sub", Kor::LOG_INFO, __FILE__, __LINE__, Kor::INFO, "%s", "text");
        LogMessage(object, NoName, Kor::INFO, Kor::LOG_INFO) << "text";
        object->Log(Kor::LOG_INFO, __FILE__, __LINE__, Kor::INFO, "%s", "text");
        LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO) << "text";
        Kor::LogModule::_LOG(Kor::LOG_INFO, __FILE__, __LINE__, Kor::INFO, "%s", "text");
        const QStringList lines = m_log.newLines();
        const QString sub = lines.value(0);
        const QString named = lines.value(2);
        const QString none = lines.value(4);
        QCOMPARE(lines, (QStringList{ sub, sub, named, named, none, none }));
        QVERIFY2(sub.contains("Column.sub") && named.contains("Column") && !named.contains("Column.sub")
                     && !none.contains("Column"),
                 qPrintable(lines.join('\n')));
    }

    // A message built while another one collects on the same thread, and a
    // message longer than the storage a thread keeps, both keep their own text.
    void nestedAndLongMessages()
    {
        const QString longText(5000, QLatin1Char('L'));
        {
            LogMessage outer(nullptr, NoName, Kor::INFO, Kor::LOG_INFO);
            outer << "outer-1 ";
            LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO) << "inner";
            LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO) << longText;
            outer << "outer-2";
        }
        LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO) << "after";
        QCOMPARE(m_log.newLines(), (QStringList{ "inner", longText, "outer-1 outer-2", "after" }));
    }

    // A thread-local object made before the thread's first message is
    // destroyed after the thread's message storage: its line is still written whole.
    void lineFromThreadExit()
    {
        // join() returns after the thread-local destructors; QThread::wait()
        // may return before them.
        std::thread thread([] {
            thread_local LogsAtThreadExit lateLogger;
            lateLogger.armed = true;
            LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO) << "while running";
        });
        thread.join();
        QCOMPARE(m_log.newLines(), (QStringList{ "while running", "at thread exit 7" }));
    }

    void qtBridge()
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
        const QStringList lines = m_log.newLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].contains("qDebug") && lines[0].endsWith("bridged debug"), qPrintable(lines[0]));
        QVERIFY2(lines[1].contains("qWarning") && lines[1].endsWith("bridged warning"), qPrintable(lines[1]));
    }

    // The line is written, then the process ends: in a child, then.
    void qtFatalEndsProcess()
    {
        const pid_t child = ::fork();
        if (child == 0) {
            Logging::Install();
            qFatal("fatal %d", 7);
        }
        int status = 0;
        QVERIFY(child > 0 && ::waitpid(child, &status, 0) == child);
        QVERIFY(WIFSIGNALED(status));
        const QString log = m_log.newText();
        QVERIFY2(log.contains("qFatal") && log.endsWith("fatal 7"), qPrintable(log));
    }

    void unnamedThreadHasNoLogObject()
    {
        QThread::currentThread()->setObjectName(QString());
        QCOMPARE(currentThreadLogObject(), nullptr);
        QThread::currentThread()->setObjectName("Main\u00e9");
        QCOMPARE(currentThreadLogObject(), Kor::LogObject::getLogObject("Main\xC3\xA9"));
        QThread::currentThread()->setObjectName(QString());
    }
};

QTEST_GUILESS_MAIN(tst_LogMessage)
#include "tst_logmessage.moc"
