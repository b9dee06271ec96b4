#include <Kor/KorCore.h>

#include <QTest>

using namespace Kor::NS;

class tst_VersionInfo : public QObject
{
    Q_OBJECT

private slots:
    void text_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<unsigned>("high");
        QTest::addColumn<unsigned>("low");
        QTest::addColumn<unsigned>("build");
        QTest::addColumn<bool>("written"); // as toString writes it
        QTest::newRow("one digit") << " 1.02.03" << 1u << 2u << 3u << true;
        QTest::newRow("zero") << " 0.00.00" << 0u << 0u << 0u << true;
        QTest::newRow("two digits") << "10.11.12" << 10u << 11u << 12u << true;
        QTest::newRow("library") << "80.00.00" << 80u << 0u << 0u << true;
        QTest::newRow("wide") << "123.04.567" << 123u << 4u << 567u << true;
        QTest::newRow("two parts") << "8.1" << 8u << 1u << 0u << false;
        QTest::newRow("empty") << "" << 0u << 0u << 0u << false;
        QTest::newRow("four parts") << "1.2.3.4" << 1u << 2u << 3u << false;
        QTest::newRow("letters") << "a.b.c" << 0u << 0u << 0u << false;
        QTest::newRow("empty middle") << "1..3" << 1u << 0u << 3u << false;
        QTest::newRow("negative") << "-1.2.3" << 0xFFFFFFFFu << 2u << 3u << false;
    }

    void text()
    {
        QFETCH(QString, text);
        QFETCH(unsigned, high);
        QFETCH(unsigned, low);
        QFETCH(unsigned, build);
        QFETCH(bool, written);
        const VersionType v = VersionInfo::fromString(text);
        QCOMPARE(v.high, high);
        QCOMPARE(v.low, low);
        QCOMPARE(v.build, build);
        if (written) {
            QCOMPARE(VersionInfo::toString(high, low, build), text);
            QCOMPARE(VersionInfo::toString(v), text);
        }
    }
};

QTEST_APPLESS_MAIN(tst_VersionInfo)
#include "tst_versioninfo.moc"
