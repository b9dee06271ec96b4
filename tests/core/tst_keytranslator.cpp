#include "Console.h"

#include <QTest>

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

class tst_KeyTranslator : public QObject
{
    Q_OBJECT

private slots:
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
    }

    void terminal()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QByteArray, codes);
        KeyTranslator translator(true);
        QCOMPARE(run(translator, chunks), codes);
    }

    void pipePassesBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("escape sequence") << QByteArray("\033[A\033OP");
        QTest::newRow("DEL") << QByteArray("a\x7f");
        QTest::newRow("console codes") << QByteArray("\0;\xe0H", 4);
        QTest::newRow("lone escape") << QByteArray("\033");
    }

    void pipePassesBytes()
    {
        QFETCH(QByteArray, bytes);
        KeyTranslator translator(false);
        QVERIFY(!translator.isTerminalMode());
        QCOMPARE(run(translator, {bytes.left(2), bytes.mid(2)}), bytes);
    }

    void resetDropsPendingSequence()
    {
        KeyTranslator translator(true);
        QCOMPARE(run(translator, {"\033[1"}), QByteArray());
        translator.reset();
        QCOMPARE(run(translator, {"5~"}), QByteArray("5~"));
    }
};


QTEST_GUILESS_MAIN(tst_KeyTranslator)
#include "tst_keytranslator.moc"
