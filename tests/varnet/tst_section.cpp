#include <Kor/Section.h>

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using Kor::Section;
using Kor::String;

namespace {

// With a byte-order mark.
QByteArray utf16(const char16_t* text, bool bigEndian)
{
    QStringEncoder encoder(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                           QStringConverter::Flag::WriteBom);
    return encoder(QString::fromUtf16(text));
}

} // namespace

class tst_Section : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;

    // Each content in a file of its own.
    bool read(Section& s, const QByteArray& content, int readCharset = String::Charset_UTF8,
              int textCharset = String::Charset_UTF8)
    {
        const QString path = m_dir.filePath(QStringLiteral("f%1.xml").arg(++m_files));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        file.close();
        return s.ReadFile(path.toLocal8Bit().constData(), false, Section::Charset(readCharset),
                          Section::Charset(textCharset));
    }

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    // Missing children are invalid, however deep one looks.
    void readsNestedElements()
    {
        Section s;
        QVERIFY(read(s, "<?xml version=\"1.0\"?>\n<!-- set-up -->\n<Setup>\n  <Settings>\n"
                        "    <logdir>/var/log/kor</logdir>\n    <dbtype>pg</dbtype>\n"
                        "    <dbtype>second</dbtype>\n    <amp>a &amp; b <![CDATA[<c>]]></amp>\n"
                        "  </Settings>\n</Setup>\n"));
        QCOMPARE(s["Setup"]["Settings"]["logdir"].getText().c_str(), "/var/log/kor");
        QCOMPARE(s["Setup"]["Settings"]["dbtype"].getText().c_str(), "pg"); // the first of that name
        QCOMPARE(s["Setup"]["Settings"]["amp"].getText().c_str(), "a & b <c>");
        QCOMPARE(s["Setup"]["Settings"].childCount(), std::size_t(4));
        QCOMPARE(s["Setup"]["Settings"].getText().c_str(), ""); // indentation only
        QCOMPARE(s["Setup"].toString().c_str(), "Setup");
        const Section missing = s["Setup"]["Settings"]["allowed_protocols"];
        QVERIFY(!missing.isValid());
        QVERIFY(missing.getText().empty());
        QVERIFY(!missing["deeper"]["still"].isValid());
        QVERIFY(!s["setup"].isValid()); // names are case-sensitive
        QVERIFY(!s[nullptr].isValid());
        QVERIFY(!Section()["x"].isValid());
        QCOMPARE(missing.toDebugString().c_str(), "Section (invalid)");
    }

    void copiesShareTreeAndClearRefReleases()
    {
        const long before = Kor::ObjectData::globalUseCount();
        Section settings;
        {
            Section s;
            QVERIFY(read(s, "<Setup><Settings><k>v</k></Settings><Other/></Setup>"));
            QCOMPARE(Kor::ObjectData::globalUseCount(), before + 5); // document and four elements
            Section copy = s;
            settings = s["Setup"]["Settings"];
            s.clearRef();
            QVERIFY(!s.isValid());
            QCOMPARE(copy["Setup"]["Settings"]["k"].getText().c_str(), "v"); // the copy still holds the tree
        }
        // Only the subtree still referred to stays alive.
        QCOMPARE(Kor::ObjectData::globalUseCount(), before + 2);
        QCOMPARE(settings["k"].getText().c_str(), "v");
        settings.clearRef();
        QCOMPARE(Kor::ObjectData::globalUseCount(), before);
    }

    // Refused with a reason, a null name included.
    void refusesUnreadablePaths()
    {
        Section s;
        const QByteArray missing = m_dir.filePath("missing.xml").toLocal8Bit();
        const QByteArray directory = m_dir.path().toLocal8Bit();
        for (const char* path : { missing.constData(), directory.constData(), "", static_cast<const char*>(nullptr) }) {
            QVERIFY(!s.ReadFile(path, false, Section::s_defaultReadCharset, String::s_defaultCharset));
            QVERIFY(!s.isValid());
            QVERIFY(!s.lastError().empty());
        }
    }

    void readFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("readCharset");
        QTest::addColumn<int>("textCharset");
        QTest::addColumn<QByteArray>("result"); // the text of <a>, or "refused: " and part of lastError()
        const auto row = [](const char* tag, const QByteArray& bytes, const QByteArray& result,
                            int readCharset = String::Charset_UTF8, int textCharset = String::Charset_UTF8) {
            QTest::newRow(tag) << bytes << readCharset << textCharset << result;
        };
        const int utf8 = String::Charset_UTF8, latin1 = String::Charset_Latin1;
        row("utf-8 assumed", "<a>K\xC3\xB6r</a>", "K\xC3\xB6r");
        row("utf-8 bom", "\xEF\xBB\xBF<a>\xE2\x82\xAC</a>", "\xE2\x82\xAC");
        row("latin-1 declared", "<?xml version='1.0' encoding='ISO-8859-1'?><a>K\xF6r</a>", "K\xC3\xB6r");
        row("latin-1 assumed", "<a>K\xF6r</a>", "K\xC3\xB6r", latin1);
        row("latin-1 text", "<a>K\xC3\xB6r \xE2\x82\xAC</a>", "K\xF6r ?", utf8, latin1);
        row("utf-16le bom", utf16(u"<a>\u20ac</a>", false), "\xE2\x82\xAC");
        row("utf-16be bom declared", utf16(u"<?xml version='1.0' encoding='UTF-16'?><a>z</a>", true), "z");
        // Truncated files, entities and the like are refused as set-up files.
        row("undeclared entity", "<a>&x;</a>", "refused: line");
        const QByteArray largest = "<a>" + QByteArray(int(Section::s_maxFileSize) - 7, 'x') + "</a>";
        row("largest", largest, largest.mid(3).chopped(4));
        row("one byte too large", largest + ' ', "refused: larger than");
        const int depth = Section::s_maxDepth;
        row("deepest", QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth), "");
        row("deeply nested", QByteArray("<a>").repeated(depth + 1) + QByteArray("</a>").repeated(depth + 1),
            "refused: nested deeper");
        row("too many elements", "<a>" + QByteArray("<b/>").repeated(Section::s_maxElements) + "</a>",
            "refused: more than");
        row("invalid utf-8", "<a>K\xF6r</a>", "refused: encoding");
        row("overlong utf-8", "<a>\xC0\xBC</a>", "refused: encoding");
        row("ascii declared, utf-8 bytes", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><a>K\xC3\xB6r</a>",
            "refused: encoding");
        row("utf-16 declared without bom", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>",
            "refused: without byte-order mark");
        row("bom contradicts declaration", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>",
            "refused: contradicts");
        row("unsupported encoding", "<?xml version=\"1.0\" encoding=\"EBCDIC-FI\"?><a/>", "refused: unsupported");
        row("odd utf-16", utf16(u"<a/>", false).chopped(1), "refused: encoding");
        row("utf-16 bom contradicts declaration", utf16(u"<?xml version='1.0' encoding='UTF-8'?><a/>", false),
            "refused: contradicts");
        row("nul byte", QByteArray("<a>\0</a>", 8), "refused: line");
    }
    // Files at the limits are read; a failed read leaves nothing of the tree
    // read before.
    void readFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, readCharset);
        QFETCH(int, textCharset);
        QFETCH(QByteArray, result);
        Section s;
        QVERIFY(read(s, "<ok/>"));
        const bool refused = result.startsWith("refused: ");
        QCOMPARE(read(s, bytes, readCharset, textCharset), !refused);
        QVERIFY(!s["ok"].isValid());
        QCOMPARE(s["a"].isValid(), !refused);
        const QByteArray got = refused ? QByteArray(s.lastError().c_str()) : QByteArray(s["a"].getText().c_str());
        QVERIFY2(refused ? got.contains(result.mid(9)) : got == result, got.left(200).constData());
    }
};

QTEST_GUILESS_MAIN(tst_Section)
#include "tst_section.moc"
