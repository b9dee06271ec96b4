#include <Kor/KorString.h>
#include <Kor/Uuid.h>

#include <QString>
#include <QTest>

using Kor::String;

class tst_KorString : public QObject
{
    Q_OBJECT
private slots:
    // The set-up tests trim and raise plain ASCII.
    void upper()
    {
        QCOMPARE(String("\xE9t\xE9").to_upper(String::Charset_Latin1).c_str(), "\xC9T\xC9");
        // The bytes of a UTF-8 sequence are left alone.
        QCOMPARE(String("\xC3\xA9").to_upper(String::Charset_UTF8).c_str(), "\xC3\xA9");
    }

    void convert_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QByteArray>("output"); // '?' for what cannot be read or written
        const int utf8 = String::Charset_UTF8, utf16 = String::Charset_UCS_2;
        const QString text = QStringLiteral("K\u00f6r \u20ac \U0001F600");
        const QByteArray units(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        QTest::newRow("utf-16 to utf-8") << units << utf16 << utf8 << text.toUtf8();
        QTest::newRow("utf-16 to latin-1") << units << utf16 << int(String::Charset_Latin1) << QByteArray("K\xF6r ? ?");
        QTest::newRow("lone surrogate") << QByteArray("a\0\0\xD8" "b\0", 6) << utf16 << utf8 << QByteArray("a?b");
        QTest::newRow("half a code unit") << QByteArray("a\0b", 3) << utf16 << utf8 << QByteArray("a?");
        QTest::newRow("overlong slash, truncated") << QByteArray("\xC0\xAF|\xE2\x82") << utf8 << utf8
                                                   << QByteArray("??|??");
        QTest::newRow("lead byte F4 above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << utf8 << utf8
                                                     << QByteArray("????");
        for (int lead = 0xF5; lead <= 0xFF; ++lead) {
            const QByteArray row = "lead byte " + QByteArray::number(lead, 16);
            QTest::newRow(row.constData()) << (QByteArray(1, char(lead)) + "\x80\x80\x80") << utf8 << utf8
                                           << QByteArray("????");
        }
    }
    void convert()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QByteArray, output);
        bool ok = false;
        const String out = String::convertBuffer(input.constData(), size_t(input.size()), String::Charset(to),
                                                 String::Charset(from), '?', 0, &ok);
        QCOMPARE(QByteArray::fromStdString(out.str()), output);
        QCOMPARE(ok, !output.contains('?'));
    }

    void uuidTextForms()
    {
        const Kor::Uuid id("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
        QCOMPARE(id.toString().c_str(), "{6f9619ff-8b86-d011-b42d-00c04fc964ff}");
        QVERIFY(Kor::Uuid("6f9619ff-8b86-d011-b42d-00c04fc964ff") == id);
        QVERIFY(Kor::Uuid("{6f9619ff-8b86-d011-b42d-00c04fc964f}").isNull());
        const Kor::Uuid a = Kor::Uuid::create(), b = Kor::Uuid::create();
        QVERIFY(a != b);
        QVERIFY((a < b) != (b < a));
    }
};

QTEST_APPLESS_MAIN(tst_KorString)
#include "tst_korstring.moc"
