// An enabled log line of the common kinds takes nothing from the heap once
// its thread has logged before. Not built under the sanitizers.
#include "LogLines.h"

#include <Kor/LogObject.h>

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <functional>

#include "AllocationCounter.h"

using namespace Kor::NS;

using Line = std::function<void(int)>;
Q_DECLARE_METATYPE(Line)

static const Kor::String NoName;

namespace {
// An enabled message, as most lines are.
LogMessage message(Kor::LogObject* object = nullptr, const Kor::String& name = NoName,
                   Kor::LogEntryType type = Kor::LOG_INFO)
{
    return LogMessage(object, name, Kor::INFO, type);
}

// Allocations made by lines 1 to count, after line 0 has set up what they
// reuse. Once a second a thread's time stamp text is made anew, and the C
// library then checks the local zone again, which may allocate: a run that
// crossed a second is repeated.
unsigned long long allocationsOf(const Line& line, int count)
{
    line(0);
    unsigned long long made = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const qint64 second = QDateTime::currentSecsSinceEpoch();
        const unsigned long long before = g_allocations.load(std::memory_order_relaxed);
        for (int i = 1; i <= count; ++i)
            line(i);
        made = g_allocations.load(std::memory_order_relaxed) - before;
        if (QDateTime::currentSecsSinceEpoch() == second)
            break;
    }
    return made;
}
} // namespace

class tst_LogAllocations : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    TestLog m_log;

private slots:
    // Every part of a line on, time stamps and thread ids too; no flush per line.
    void initTestCase()
    {
        m_log.start(m_dir.filePath("allocations"));
        Kor::LogModule::EnableTime(true);
        Kor::LogModule::EnableThreadID(true, true);
        Kor::LogModule::LogFileFlush(false);
    }

    void cleanupTestCase()
    {
        Kor::LogModule::EnableThreadID(false, false);
        Kor::LogModule::Stop(-1);
    }

    void enabledLine_data()
    {
        static const QString words = QString(200, QLatin1Char('q'));
        static const Kor::Uuid id = Kor::Uuid::create();
        static const Kor::String name("sub");
        static const QByteArray bytes("eight-bit bytes");
        static Kor::LogObject* const object = Kor::LogObject::getLogObject("Allocations");

        QTest::addColumn<Line>("line");
        QTest::newRow("text and number") << Line([](int i) { message() << "text " << i; });
        QTest::newRow("integers and booleans") << Line([](int i) {
            message() << -i << ' ' << 123456789012345ULL << ' ' << (i % 2 == 0) << ' ' << short(i);
        });
        QTest::newRow("QString of 200 characters") << Line([](int) { message() << words; });
        QTest::newRow("8-bit texts") << Line([](int) { message() << bytes << name << QLatin1String(" latin"); });
        QTest::newRow("uuid") << Line([](int) { message() << "id " << id; });
        QTest::newRow("log object") << Line([](int i) { message(object, NoName, Kor::LOG_WARNING) << "warned " << i; });
        QTest::newRow("log object and sub-name") << Line([](int i) { message(object, name) << "named " << i; });
    }

    void enabledLine()
    {
        QFETCH(Line, line);
        QCOMPARE(allocationsOf(line, 100), 0ULL);
    }

    // Through the writer thread, each line in a batch of its own (the test waits
    // until it is written): the queue reuses its batches and its own storage.
    void asynchronousLine()
    {
        QVERIFY(Kor::LogModule::LogFileEnableAsyncWriting(1 << 20, 1024));
        const Line line = [](int i) {
            message() << "queued " << i % 10;
            Kor::LogModule::LogFilePrepareStop();
        };
        const unsigned long long made = allocationsOf(line, 200);
        Kor::LogModule::Stop(Kor::LogModule::AsyncWriter);
        QCOMPARE(made, 0ULL);
    }
};


QTEST_GUILESS_MAIN(tst_LogAllocations)
#include "tst_logallocations.moc"
