// Keyboard input: the translator that turns terminal sequences into console
// key codes, and the reader that acts on those codes, driven through a pipe
// put in place of standard input so the bytes arrive unchanged.
#include "Console.h"
#include "StdInReader_p.h"

#include <QTest>

#include <iostream>
#include <sstream>
#include <unistd.h>

using Kor::NS::StdInReader;
using Kor::Platform::KeyTranslator;

namespace {

QByteArray fkey(int n)
{
    return QByteArray(1, '\0') + char(58 + n);
}

QByteArray extended(int code)
{
    return QByteArray(1, char(224)) + char(code);
}

QByteArray run(KeyTranslator& translator, const QByteArrayList& chunks)
{
    QByteArray out;
    for (const QByteArray& chunk : chunks)
        out += QByteArray::fromStdString(translator.translate(std::string_view(chunk.constData(), chunk.size())));
    return out;
}

} // namespace

class tst_Keyboard : public QObject
{
    Q_OBJECT

    int m_savedStdin = -1;
    std::streambuf* m_savedCout = nullptr;
    std::ostringstream m_echo;

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

    void init() { m_echo.str(std::string()); }

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

        // The whole input, then its end.
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        QVERIFY(::dup2(fds[0], STDIN_FILENO) == STDIN_FILENO);
        ::close(fds[0]);
        QCOMPARE(::write(fds[1], input.constData(), input.size()), ssize_t(input.size()));
        ::close(fds[1]);
        StdInReader reader;
        QStringList seen;
        connect(&reader, &StdInReader::fkeyRead, this, [&](int f) { seen << QStringLiteral("F%1").arg(f); });
        connect(&reader, &StdInReader::escapeRead, this, [&] { seen << "esc"; });
        connect(&reader, &StdInReader::backspaceRead, this, [&] { seen << "bs"; });
        connect(&reader, &StdInReader::linefeedRead, this, [&] { seen << "lf"; });
        connect(&reader, &StdInReader::carriagereturnRead, this, [&] { seen << "cr"; });
        connect(&reader, &StdInReader::charRead, this,
                [&](char c) { seen << QStringLiteral("c%1").arg(int(static_cast<unsigned char>(c))); });
        connect(&reader, &StdInReader::lineRead, this, [&](const QString& l) { seen << "line:" + l; });
        reader.start();
        QTRY_VERIFY(reader.inputEnded());
        QCOMPARE(seen, events);
        QCOMPARE(QByteArray::fromStdString(m_echo.str()), echo);
    }
    void terminal_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QByteArray>("codes");

        QTest::newRow("plain text") << QByteArrayList{"lg2\r"} << QByteArray("lg2\r");
        QTest::newRow("line feed") << QByteArrayList{"\n"} << QByteArray("\n");
        QTest::newRow("DEL is backspace") << QByteArrayList{"ab\x7f"} << QByteArray("ab\b");

        const char* ss3[] = {"\033OP", "\033OQ", "\033OR", "\033OS"};
        for (int i = 0; i < 4; ++i)
            QTest::addRow("F%d SS3", i + 1) << QByteArrayList{ss3[i]} << fkey(i + 1);
        const char* csi[] = {"\033[15~", "\033[17~", "\033[18~", "\033[19~", "\033[20~", "\033[21~"};
        for (int i = 0; i < 6; ++i)
            QTest::addRow("F%d CSI", i + 5) << QByteArrayList{csi[i]} << fkey(i + 5);
        const char* linuxConsole[] = {"\033[[A", "\033[[B", "\033[[C", "\033[[D", "\033[[E"};
        for (int i = 0; i < 5; ++i)
            QTest::addRow("F%d linux console", i + 1) << QByteArrayList{linuxConsole[i]} << fkey(i + 1);
        QTest::newRow("F1 rxvt") << QByteArrayList{"\033[11~"} << fkey(1);

        const struct { const char* name; const char* sequence; int code; } keys[] = {
            {"up", "\033[A", 72}, {"down", "\033[B", 80}, {"right", "\033[C", 77}, {"left", "\033[D", 75},
            {"home", "\033[H", 71}, {"end", "\033[F", 79}, {"home tilde", "\033[1~", 71}, {"end tilde", "\033[4~", 79},
            {"insert", "\033[2~", 82}, {"delete", "\033[3~", 83}, {"page up", "\033[5~", 73},
            {"page down", "\033[6~", 81}, {"up application mode", "\033OA", 72}, {"ctrl up", "\033[1;5A", 72},
            {"shift delete", "\033[3;2~", 83}};
        for (const auto& key : keys)
            QTest::newRow(key.name) << QByteArrayList{key.sequence} << extended(key.code);

        QTest::newRow("lone escape") << QByteArrayList{"\033"} << QByteArray("\033");
        QTest::newRow("escape then letter") << QByteArrayList{"\033x"} << QByteArray("\033x");
        QTest::newRow("two escapes") << QByteArrayList{"\033\033"} << QByteArray("\033\033");
        QTest::newRow("escape ends chunk") << QByteArrayList{"\033", "[A"} << QByteArray("\033[A");
        QTest::newRow("keys between text") << QByteArrayList{"a\033[Db\033OPc"}
                                           << QByteArray("a") + extended(75) + "b" + fkey(1) + "c";

        QTest::newRow("split after bracket") << QByteArrayList{"\033[", "A"} << extended(72);
        QTest::newRow("split in number") << QByteArrayList{"\033[1", "5~"} << fkey(5);
        QTest::newRow("split SS3") << QByteArrayList{"\033O", "S"} << fkey(4);
        QTest::newRow("split linux console") << QByteArrayList{"\033[[", "B"} << fkey(2);
        QTest::newRow("split byte by byte") << QByteArrayList{"\033[", "2", "1", "~"} << fkey(10);
        QTest::newRow("split after escape bracket") << QByteArrayList{"x\033[2", "1", "~y"}
                                                    << QByteArray("x") + fkey(10) + "y";

        // Sequences without a console code are swallowed whole.
        const char* dropped[][2] = {{"unknown tilde", "\033[99~"}, {"shift F1", "\033[1;2P"}, {"shift F5", "\033[15;2~"},
                                    {"shift tab", "\033[Z"}, {"intermediate byte", "\033[ q"}, {"unknown SS3", "\033Oz"},
                                    {"unknown linux console", "\033[[Z"}, {"too many numbers", "\033[1;2;3A"}};
        for (const auto& [name, sequence] : dropped)
            QTest::newRow(name) << QByteArrayList{sequence} << QByteArray();
        QTest::newRow("private mode") << QByteArrayList{"a\033[?25hb"} << QByteArray("ab");
        QTest::newRow("overlong sequence") << QByteArrayList{"\033[" + QByteArray(200, '1') + "~x"} << QByteArray("x");
        QTest::newRow("broken by control byte") << QByteArrayList{"\033[1\r"} << QByteArray("\r");
        QTest::newRow("NUL key") << QByteArrayList{QByteArray(1, '\0') + ";"} << QByteArray(1, '\0') + "\x03;";

        // For a pipe the bytes pass unchanged.
        QTest::newRow("pipe: escape sequence") << QByteArrayList{"\033[", "A\033OP"} << QByteArray("\033[A\033OP");
        QTest::newRow("pipe: DEL") << QByteArrayList{"a\x7f"} << QByteArray("a\x7f");
        QTest::newRow("pipe: codes") << QByteArrayList{QByteArray("\0;", 2), "\xe0H"} << QByteArray("\0;\xe0H", 4);
        QTest::newRow("pipe: lone escape") << QByteArrayList{"\033"} << QByteArray("\033");
    }

    void terminal()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QByteArray, codes);
        const bool terminal = !QByteArray(QTest::currentDataTag()).startsWith("pipe:");
        KeyTranslator translator(terminal);
        QCOMPARE(translator.isTerminalMode(), terminal);
        QCOMPARE(run(translator, chunks), codes);
    }

    void resetDropsPendingSequence()
    {
        KeyTranslator translator(true);
        QCOMPARE(run(translator, {"\033[1"}), QByteArray());
        translator.reset();
        QCOMPARE(run(translator, {"5~"}), QByteArray("5~"));
    }
};

QTEST_GUILESS_MAIN(tst_Keyboard)
#include "tst_keyboard.moc"
