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
    void terminal_data();
    void terminal();
    void pipePassesBytes_data();
    void pipePassesBytes();
    void resetDropsPendingSequence();
};

void tst_KeyTranslator::terminal_data()
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

    QTest::newRow("up") << QByteArrayList{"\033[A"} << extended(72);
    QTest::newRow("down") << QByteArrayList{"\033[B"} << extended(80);
    QTest::newRow("right") << QByteArrayList{"\033[C"} << extended(77);
    QTest::newRow("left") << QByteArrayList{"\033[D"} << extended(75);
    QTest::newRow("home") << QByteArrayList{"\033[H"} << extended(71);
    QTest::newRow("end") << QByteArrayList{"\033[F"} << extended(79);
    QTest::newRow("home tilde") << QByteArrayList{"\033[1~"} << extended(71);
    QTest::newRow("end tilde") << QByteArrayList{"\033[4~"} << extended(79);
    QTest::newRow("insert") << QByteArrayList{"\033[2~"} << extended(82);
    QTest::newRow("delete") << QByteArrayList{"\033[3~"} << extended(83);
    QTest::newRow("page up") << QByteArrayList{"\033[5~"} << extended(73);
    QTest::newRow("page down") << QByteArrayList{"\033[6~"} << extended(81);
    QTest::newRow("up application mode") << QByteArrayList{"\033OA"} << extended(72);
    QTest::newRow("ctrl up") << QByteArrayList{"\033[1;5A"} << extended(72);
    QTest::newRow("shift delete") << QByteArrayList{"\033[3;2~"} << extended(83);

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

    QTest::newRow("unknown tilde") << QByteArrayList{"\033[99~"} << QByteArray();
    QTest::newRow("private mode") << QByteArrayList{"a\033[?25hb"} << QByteArray("ab");
    QTest::newRow("shift F1") << QByteArrayList{"\033[1;2P"} << QByteArray();
    QTest::newRow("shift F5") << QByteArrayList{"\033[15;2~"} << QByteArray();
    QTest::newRow("shift tab") << QByteArrayList{"\033[Z"} << QByteArray();
    QTest::newRow("intermediate byte") << QByteArrayList{"\033[ q"} << QByteArray();
    QTest::newRow("unknown SS3") << QByteArrayList{"\033Oz"} << QByteArray();
    QTest::newRow("unknown linux console") << QByteArrayList{"\033[[Z"} << QByteArray();
    QTest::newRow("overlong sequence") << QByteArrayList{"\033[" + QByteArray(200, '1') + "~x"} << QByteArray("x");
    QTest::newRow("broken by control byte") << QByteArrayList{"\033[1\r"} << QByteArray("\r");
    QTest::newRow("too many numbers") << QByteArrayList{"\033[1;2;3A"} << QByteArray();
    QTest::newRow("NUL key") << QByteArrayList{QByteArray(1, '\0') + ";"} << QByteArray(1, '\0') + "\x03;";
}

void tst_KeyTranslator::terminal()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArray, codes);
    KeyTranslator translator(true);
    QCOMPARE(run(translator, chunks), codes);
}

void tst_KeyTranslator::pipePassesBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("escape sequence") << QByteArray("\033[A\033OP");
    QTest::newRow("DEL") << QByteArray("a\x7f");
    QTest::newRow("console codes") << QByteArray("\0;\xe0H", 4);
    QTest::newRow("lone escape") << QByteArray("\033");
}

void tst_KeyTranslator::pipePassesBytes()
{
    QFETCH(QByteArray, bytes);
    KeyTranslator translator(false);
    QVERIFY(!translator.isTerminalMode());
    QCOMPARE(run(translator, {bytes.left(2), bytes.mid(2)}), bytes);
}

void tst_KeyTranslator::resetDropsPendingSequence()
{
    KeyTranslator translator(true);
    QCOMPARE(run(translator, {"\033[1"}), QByteArray());
    translator.reset();
    QCOMPARE(run(translator, {"5~"}), QByteArray("5~"));
}

QTEST_GUILESS_MAIN(tst_KeyTranslator)
#include "tst_keytranslator.moc"
