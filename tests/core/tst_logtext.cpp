// The text of a log message on its way into the file: 8-bit pieces decoded
// into it, numbers and identifiers written into it, and the whole turned into
// the local 8-bit encoding by the log module. Each result is compared with
// what Qt's own conversions give, byte for byte.
#include <Kor/KorCore.h>
#include <Kor/LogModule.h>
#include <Kor/LogObject.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <thread>

using namespace Kor::NS;

class tst_LogText : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void utf8Pieces_data();
    void utf8Pieces();
    void integers_data();
    void integers();
    void uuid();
    void eightBitLine_data();
    void eightBitLine();
    void loggerNameColumn_data();
    void loggerNameColumn();
    void nestedAndLongMessages();
    void lineFromThreadExit();

private:
    QByteArray newBytes();
    QList<QByteArray> newLines();

    QTemporaryDir m_dir;
    QString m_logFile;
    qsizetype m_seen = 0;
};

static const Kor::String NoName;

void tst_LogText::initTestCase()
{
    m_logFile = m_dir.filePath("text");
    Kor::LogModule::Start(Kor::LogModule::LogFile, QFile::encodeName(m_logFile).constData(), "test", "test");
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::AllOutputs, Kor::TRACE);
    Kor::LogModule::LogFileFlush(true);
    // Bare lines: only the logger name column and the text.
    Kor::LogModule::EnableTime(false);
    Kor::LogModule::EnableType(false);
}

void tst_LogText::cleanupTestCase()
{
    Kor::LogModule::EnableTime(true);
    Kor::LogModule::EnableType(true);
    Kor::LogModule::Stop(-1);
}

void tst_LogText::init()
{
    Kor::LogModule::SetNameMinSize(0);
    Kor::LogModule::SetNameDotted(false);
    Kor::LogModule::SetNameSeparated(false);
    newBytes();
}

// The raw bytes the file gained since the last call.
QByteArray tst_LogText::newBytes()
{
    Kor::LogModule::LogFilePrepareStop();
    QFile file(m_logFile + ".log");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    const QByteArray fresh = all.mid(m_seen);
    m_seen = all.size();
    return fresh;
}

QList<QByteArray> tst_LogText::newLines()
{
    QList<QByteArray> lines = newBytes().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void tst_LogText::utf8Pieces_data()
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
void tst_LogText::utf8Pieces()
{
    QFETCH(QByteArray, piece);
    const QString expected = QStringLiteral("<") + QString::fromUtf8(piece) + QStringLiteral(">");
    {
        LogMessage message(nullptr, NoName, Kor::INFO, Kor::LOG_INFO);
        message << "<" << piece.constData() << ">";
        QCOMPARE(message.getText(), expected);
    }
    {
        LogMessage message(nullptr, NoName, Kor::INFO, Kor::LOG_INFO);
        message << "<" << piece << ">";
        QCOMPARE(message.getText(), expected);
    }
    {
        LogMessage message(nullptr, NoName, Kor::INFO, Kor::LOG_INFO);
        message << "<" << Kor::String(piece.toStdString()) << ">";
        QCOMPARE(message.getText(), expected);
    }
}

void tst_LogText::integers_data()
{
    QTest::addColumn<qlonglong>("value");
    QTest::newRow("zero") << 0LL;
    QTest::newRow("minus one") << -1LL;
    QTest::newRow("ten") << 10LL;
    QTest::newRow("lowest") << std::numeric_limits<qlonglong>::min();
    QTest::newRow("highest") << std::numeric_limits<qlonglong>::max();
}

void tst_LogText::integers()
{
    QFETCH(qlonglong, value);
    LogMessage message(nullptr, NoName, Kor::INFO, Kor::LOG_INFO);
    message << value << "|" << static_cast<unsigned long long>(value) << "|" << static_cast<int>(value);
    QCOMPARE(message.getText(), QString::number(value) + "|" + QString::number(static_cast<qulonglong>(value)) + "|"
                                    + QString::number(static_cast<int>(value)));
}

void tst_LogText::uuid()
{
    for (const Kor::Uuid& id : {Kor::Uuid(), Kor::Uuid::create()}) {
        LogMessage message(nullptr, NoName, Kor::INFO, Kor::LOG_INFO);
        message << id;
        QCOMPARE(message.getText(), QString::fromStdString(id.toString().str()));
    }
}

void tst_LogText::eightBitLine_data()
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
void tst_LogText::eightBitLine()
{
    QFETCH(QString, text);
    LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO) << text;
    QCOMPARE(newBytes(), text.toLocal8Bit() + '\n');
}

void tst_LogText::loggerNameColumn_data()
{
    QTest::addColumn<int>("minSize");
    QTest::addColumn<bool>("dotted");
    QTest::addColumn<bool>("separated");
    QTest::newRow("plain") << 0 << false << false;
    QTest::newRow("padded") << 16 << false << false;
    QTest::newRow("dotted") << 16 << true << false;
    QTest::newRow("separated") << 16 << true << true;
    QTest::newRow("narrower than the name") << 4 << true << true;
}

// The three routes of a message give the lines that the log object's and the
// module's own operations give.
void tst_LogText::loggerNameColumn()
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
    const QList<QByteArray> lines = newLines();
    QCOMPARE(lines.size(), 6);
    QVERIFY2(lines[0].contains("Column.sub"), lines[0].constData());
    QCOMPARE(lines[0], lines[1]);
    QCOMPARE(lines[2], lines[3]);
    QCOMPARE(lines[4], lines[5]);
}

// A message built while another one collects on the same thread, and a
// message longer than the storage a thread keeps, both keep their own text.
void tst_LogText::nestedAndLongMessages()
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
    const QList<QByteArray> lines = newLines();
    QCOMPARE(lines, (QList<QByteArray>{"inner", longText.toLatin1(), "outer-1 outer-2", "after"}));
}

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
} // namespace

// A thread-local object made before the thread's first message is destroyed
// after the thread's message storage: its line is still written whole.
void tst_LogText::lineFromThreadExit()
{
    // join() returns after the thread-local destructors; QThread::wait()
    // may return before them.
    std::thread thread([] {
        thread_local LogsAtThreadExit lateLogger;
        lateLogger.armed = true;
        LogMessage(nullptr, NoName, Kor::INFO, Kor::LOG_INFO) << "while running";
    });
    thread.join();
    QCOMPARE(newLines(), (QList<QByteArray>{"while running", "at thread exit 7"}));
}

QTEST_GUILESS_MAIN(tst_LogText)
#include "tst_logtext.moc"
