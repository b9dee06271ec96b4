#include <Kor/KorCore.h>

#include <QTest>

using namespace Kor::NS;

class tst_VersionInfo : public QObject
{
    Q_OBJECT
private slots:
    void text_data();
    void text();
    void parse_data();
    void parse();
};

void tst_VersionInfo::text_data()
{
    QTest::addColumn<unsigned>("high");
    QTest::addColumn<unsigned>("low");
    QTest::addColumn<unsigned>("build");
    QTest::addColumn<QString>("text");
    QTest::newRow("one digit") << 1u << 2u << 3u << " 1.02.03";
    QTest::newRow("zero") << 0u << 0u << 0u << " 0.00.00";
    QTest::newRow("two digits") << 10u << 11u << 12u << "10.11.12";
    QTest::newRow("library") << 80u << 0u << 0u << "80.00.00";
    QTest::newRow("wide") << 123u << 4u << 567u << "123.04.567";
}

void tst_VersionInfo::text()
{
    QFETCH(unsigned, high);
    QFETCH(unsigned, low);
    QFETCH(unsigned, build);
    QFETCH(QString, text);
    QCOMPARE(VersionInfo::toString(high, low, build), text);
    QCOMPARE(VersionInfo::toString(VersionType(high, low, build)), text);
}

void tst_VersionInfo::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<unsigned>("high");
    QTest::addColumn<unsigned>("low");
    QTest::addColumn<unsigned>("build");
    QTest::newRow("two parts") << "8.1" << 8u << 1u << 0u;
    QTest::newRow("empty") << "" << 0u << 0u << 0u;
    QTest::newRow("four parts") << "1.2.3.4" << 1u << 2u << 3u;
    QTest::newRow("letters") << "a.b.c" << 0u << 0u << 0u;
    QTest::newRow("padded") << "80.00.00" << 80u << 0u << 0u;
    QTest::newRow("empty middle") << "1..3" << 1u << 0u << 3u;
    QTest::newRow("negative") << "-1.2.3" << 0xFFFFFFFFu << 2u << 3u;
    QTest::newRow("round trip") << " 8.01.23" << 8u << 1u << 23u;
}

void tst_VersionInfo::parse()
{
    QFETCH(QString, text);
    QFETCH(unsigned, high);
    QFETCH(unsigned, low);
    QFETCH(unsigned, build);
    const VersionType v = VersionInfo::fromString(text);
    QCOMPARE(v.high, high);
    QCOMPARE(v.low, low);
    QCOMPARE(v.build, build);
}

QTEST_APPLESS_MAIN(tst_VersionInfo)
#include "tst_versioninfo.moc"
