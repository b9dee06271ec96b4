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

    void convertFromUtf16()
    {
        const QString text = QStringLiteral("K\u00f6r \u20ac \U0001F600");
        bool ok = false;
        String utf8 = String::convertBuffer(text.utf16(), size_t(text.size()) * 2, String::Charset_UTF8,
                                            String::Charset_UCS_2, '?', 0, &ok);
        QVERIFY(ok);
        QCOMPARE(QString::fromUtf8(utf8.c_str()), text);
        String latin = String::convertBuffer(text.utf16(), size_t(text.size()) * 2, String::Charset_Latin1,
                                             String::Charset_UCS_2, '?', 0, &ok);
        QVERIFY(!ok);
        QCOMPARE(latin.str(), std::string("K\xF6r ? ?"));
        // A lone surrogate, and an odd byte count that leaves half a code unit.
        const char16_t lone[] = {u'a', 0xD800, u'b'};
        QCOMPARE(String::convertBuffer(lone, sizeof lone, String::Charset_UTF8, String::Charset_UCS_2).c_str(), "a?b");
        QCOMPARE(String::convertBuffer("a\0b", 3, String::Charset_UTF8, String::Charset_UCS_2).c_str(), "a?");
    }

    void convertRejectsMalformedUtf8_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<QByteArray>("converted");
        QTest::newRow("overlong slash, truncated") << QByteArray("\xC0\xAF|\xE2\x82") << QByteArray("??|??");
        QTest::newRow("lead byte F4 above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << QByteArray("????");
        for (int lead = 0xF5; lead <= 0xFF; ++lead) {
            const QByteArray row = "lead byte " + QByteArray::number(lead, 16);
            QTest::newRow(row.constData()) << (QByteArray(1, char(lead)) + "\x80\x80\x80") << QByteArray("????");
        }
    }
    void convertRejectsMalformedUtf8()
    {
        QFETCH(QByteArray, utf8);
        QFETCH(QByteArray, converted);
        bool ok = true;
        const String out = String::convertBuffer(utf8.constData(), size_t(utf8.size()), String::Charset_UTF8,
                                                 String::Charset_UTF8, '?', 0, &ok);
        QCOMPARE(out.c_str(), converted.constData());
        QVERIFY(!ok);
    }

    void uuidTextForms()
    {
        const Kor::Uuid id("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
        QCOMPARE(id.toString().c_str(), "{6f9619ff-8b86-d011-b42d-00c04fc964ff}");
        QVERIFY(Kor::Uuid("6f9619ff-8b86-d011-b42d-00c04fc964ff") == id);
        QVERIFY(Kor::Uuid("{6f9619ff-8b86-d011-b42d-00c04fc964f}").isNull());
        const Kor::Uuid a = Kor::Uuid::create(), b = Kor::Uuid::create();
        QVERIFY(!a.isNull());
        QVERIFY(a != b);
        QVERIFY((a < b) != (b < a));
    }
};

QTEST_APPLESS_MAIN(tst_KorString)
#include "tst_korstring.moc"
