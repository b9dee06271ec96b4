#include <Kor/Section.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Kor::Section;
using Kor::String;

namespace {

// With a byte-order mark.
QByteArray utf16(const char16_t* text, bool bigEndian)
{
    QByteArray bytes = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (const char16_t* p = text; *p; ++p) {
        const char high = char(*p >> 8), low = char(*p & 0xff);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

} // namespace

class tst_Section : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;

    // Each content in a file of its own.
    bool read(Section& s, const QByteArray& content, bool keepWhitespace = false,
              Section::Charset readCharset = Section::s_defaultReadCharset,
              Section::Charset textCharset = String::s_defaultCharset)
    {
        const QString path = m_dir.filePath(QStringLiteral("f%1.xml").arg(++m_files));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        file.close();
        return s.ReadFile(path.toLocal8Bit().constData(), keepWhitespace, readCharset, textCharset);
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
        QVERIFY(s.lastError().empty());
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

    void encodings_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("readCharset");
        QTest::addColumn<int>("textCharset");
        QTest::addColumn<QByteArray>("text");
        const int utf8 = String::Charset_UTF8, latin1 = String::Charset_Latin1;
        QTest::newRow("utf-8 assumed") << QByteArray("<a>K\xC3\xB6r</a>") << utf8 << utf8 << QByteArray("K\xC3\xB6r");
        QTest::newRow("utf-8 bom") << QByteArray("\xEF\xBB\xBF<a>\xE2\x82\xAC</a>") << utf8 << utf8
                                   << QByteArray("\xE2\x82\xAC");
        QTest::newRow("latin-1 declared") << QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?><a>K\xF6r</a>")
                                          << utf8 << utf8 << QByteArray("K\xC3\xB6r");
        QTest::newRow("latin-1 assumed") << QByteArray("<a>K\xF6r</a>") << latin1 << utf8 << QByteArray("K\xC3\xB6r");
        QTest::newRow("latin-1 text") << QByteArray("<a>K\xC3\xB6r \xE2\x82\xAC</a>") << utf8 << latin1
                                      << QByteArray("K\xF6r ?");
        QTest::newRow("utf-16le bom") << utf16(u"<a>\u20ac</a>", false) << utf8 << utf8 << QByteArray("\xE2\x82\xAC");
        QTest::newRow("utf-16be bom declared")
            << utf16(u"<?xml version='1.0' encoding='UTF-16'?><a>z</a>", true) << utf8 << utf8 << QByteArray("z");
    }
    void encodings()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, readCharset);
        QFETCH(int, textCharset);
        QFETCH(QByteArray, text);
        Section s;
        QVERIFY2(read(s, bytes, false, Section::Charset(readCharset), Section::Charset(textCharset)),
                 s.lastError().c_str());
        QCOMPARE(QByteArray(s["a"].getText().c_str()), text);
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

    void limitsAndHostileFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("reason"); // part of lastError(); none for a file read
        // Truncated files, entities and the like are refused as set-up files.
        QTest::newRow("undeclared entity") << QByteArray("<a>&x;</a>") << QByteArray("line");
        const QByteArray largest = "<a>" + QByteArray(int(Section::s_maxFileSize) - 7, 'x') + "</a>";
        QTest::newRow("largest") << largest << QByteArray();
        QTest::newRow("one byte too large") << largest + ' ' << QByteArray("larger than");
        const int depth = Section::s_maxDepth;
        QTest::newRow("deepest") << QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth)
                                 << QByteArray();
        QTest::newRow("deeply nested") << QByteArray("<a>").repeated(depth + 1) + QByteArray("</a>").repeated(depth + 1)
                                       << QByteArray("nested deeper");
        QTest::newRow("too many elements") << "<a>" + QByteArray("<b/>").repeated(Section::s_maxElements) + "</a>"
                                           << QByteArray("more than");
        QTest::newRow("invalid utf-8") << QByteArray("<a>K\xF6r</a>") << QByteArray("encoding");
        QTest::newRow("overlong utf-8") << QByteArray("<a>\xC0\xBC</a>") << QByteArray("encoding");
        QTest::newRow("ascii declared, utf-8 bytes")
            << QByteArray("<?xml version=\"1.0\" encoding=\"US-ASCII\"?><a>K\xC3\xB6r</a>") << QByteArray("encoding");
        QTest::newRow("utf-16 declared without bom")
            << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>") << QByteArray("without byte-order mark");
        QTest::newRow("bom contradicts declaration")
            << QByteArray("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>")
            << QByteArray("contradicts");
        QTest::newRow("unsupported encoding")
            << QByteArray("<?xml version=\"1.0\" encoding=\"EBCDIC-FI\"?><a/>") << QByteArray("unsupported");
        QTest::newRow("odd utf-16") << utf16(u"<a/>", false).chopped(1) << QByteArray("encoding");
        QTest::newRow("utf-16 bom contradicts declaration")
            << utf16(u"<?xml version='1.0' encoding='UTF-8'?><a/>", false) << QByteArray("contradicts");
        QTest::newRow("nul byte") << QByteArray("<a>\0</a>", 8) << QByteArray("line");
    }
    // Files at the limits are read; a failed read leaves nothing of the tree
    // read before.
    void limitsAndHostileFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, reason);
        Section s;
        QVERIFY(read(s, "<ok/>"));
        QCOMPARE(read(s, bytes), reason.isEmpty());
        QCOMPARE(s["a"].isValid(), reason.isEmpty());
        QVERIFY(!s["ok"].isValid());
        QVERIFY2(QByteArray(s.lastError().c_str()).contains(reason), s.lastError().c_str());
    }
};

QTEST_GUILESS_MAIN(tst_Section)
#include "tst_section.moc"
