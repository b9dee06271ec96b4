// Drives the reader through a pipe put in place of standard input, so the
// bytes arrive unchanged, exactly as a console delivers its key codes.
#include "StdInReader_p.h"

#include <QTest>

#include <iostream>
#include <sstream>
#include <unistd.h>

using Kor::NS::StdInReader;

class tst_StdInReader : public QObject
{
    Q_OBJECT

    // The whole input, then its end.
    void replaceStdin(const QByteArray& bytes)
    {
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        QVERIFY(::dup2(fds[0], STDIN_FILENO) == STDIN_FILENO);
        ::close(fds[0]);
        QCOMPARE(::write(fds[1], bytes.constData(), bytes.size()), ssize_t(bytes.size()));
        ::close(fds[1]);
    }

    void record(StdInReader& reader)
    {
        connect(&reader, &StdInReader::fkeyRead, this, [this](int f) { m_events << QStringLiteral("F%1").arg(f); });
        connect(&reader, &StdInReader::escapeRead, this, [this] { m_events << "esc"; });
        connect(&reader, &StdInReader::backspaceRead, this, [this] { m_events << "bs"; });
        connect(&reader, &StdInReader::linefeedRead, this, [this] { m_events << "lf"; });
        connect(&reader, &StdInReader::carriagereturnRead, this, [this] { m_events << "cr"; });
        connect(&reader, &StdInReader::charRead, this,
                [this](char c) { m_events << QStringLiteral("c%1").arg(int(static_cast<unsigned char>(c))); });
        connect(&reader, &StdInReader::lineRead, this, [this](const QString& l) { m_events << "line:" + l; });
    }

    int m_savedStdin = -1;
    std::streambuf* m_savedCout = nullptr;
    std::ostringstream m_echo;
    QStringList m_events;

private slots:
    void initTestCase()
    {
        m_savedStdin = ::dup(STDIN_FILENO);
        QVERIFY(m_savedStdin >= 0);
        m_savedCout = std::cout.rdbuf(m_echo.rdbuf());
    }

    void cleanupTestCase()
    {
        std::cout.rdbuf(m_savedCout);
        ::dup2(m_savedStdin, STDIN_FILENO);
        ::close(m_savedStdin);
    }

    void init()
    {
        m_echo.str(std::string());
        m_events.clear();
    }

    void keys_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QByteArray>("echo");

        QTest::newRow("line") << QByteArray("lg2\n") << QStringList{"c108", "c103", "c50", "lf", "line:lg2"}
                              << QByteArray("lg2\n");
        QTest::newRow("carriage return") << QByteArray("ab\r") << QStringList{"c97", "c98", "cr", "line:ab"}
                                         << QByteArray("ab\r");
        QTest::newRow("enter on empty buffer") << QByteArray("\r") << QStringList{"cr"} << QByteArray("\r");
        QTest::newRow("backspace on empty buffer") << QByteArray("\bx\n") << QStringList{"bs", "c120", "lf", "line:x"}
                                                   << QByteArray("\bx\n");
        QTest::newRow("backspace edits") << QByteArray("ax\bb\r")
                                         << QStringList{"c97", "c120", "bs", "c98", "cr", "line:ab"}
                                         << QByteArray("ax\bb\r");
        QTest::newRow("escape not echoed") << QByteArray("a\033\n") << QStringList{"c97", "esc", "lf", "line:a"}
                                           << QByteArray("a\n");
        QTest::newRow("cursor key adds nothing") << QByteArray("\xe0Hx\xe0K\n") << QStringList{"c120", "lf", "line:x"}
                                                 << QByteArray("x\n");
        QTest::newRow("F1 and F10") << QByteArray("\0;\0D", 4) << QStringList{"F1", "F10"} << QByteArray();
        QTest::newRow("other special key") << QByteArray("\0E\0\x3a", 4) << QStringList{} << QByteArray();
        QTest::newRow("prefix at end of input") << QByteArray("a\0", 2) << QStringList{"c97"} << QByteArray("a");
        QTest::newRow("latin-1 byte") << QByteArray("\xe9\n") << QStringList{"c233", "lf", "line:\u00e9"}
                                      << QByteArray("\xe9\n");
        QTest::newRow("crlf") << QByteArray("a\r\nb\n") << QStringList{"c97", "cr", "line:a", "lf", "c98", "lf", "line:b"}
                              << QByteArray("a\r\nb\n");
    }

    void keys()
    {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, events);
        QFETCH(QByteArray, echo);

        replaceStdin(input);
        StdInReader reader;
        record(reader);
        reader.start();
        QTRY_VERIFY(reader.inputEnded());
        QCOMPARE(m_events, events);
        QCOMPARE(QByteArray::fromStdString(m_echo.str()), echo);
    }
};


QTEST_GUILESS_MAIN(tst_StdInReader)
#include "tst_stdinreader.moc"
