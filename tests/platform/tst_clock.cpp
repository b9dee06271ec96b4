// The choice of the clock that stamps log lines.
#include "PlatformClock.h"

#include <QTest>

class tst_Clock : public QObject
{
    Q_OBJECT
private slots:
    void coarseClockRule_data();
    void coarseClockRule();
};

void tst_Clock::coarseClockRule_data()
{
    QTest::addColumn<bool>("known");
    QTest::addColumn<qint64>("resolutionNs");
    QTest::addColumn<bool>("coarse");
    QTest::newRow("1 ns") << true << qint64(1) << true;
    QTest::newRow("exactly 1 ms") << true << qint64(1000000) << true;
    QTest::newRow("just over 1 ms") << true << qint64(1000001) << false;
    QTest::newRow("4 ms tick") << true << qint64(4000000) << false;
    QTest::newRow("no resolution") << true << qint64(0) << false;
    QTest::newRow("clock_getres failed") << false << qint64(1000) << false;
}

void tst_Clock::coarseClockRule()
{
    QFETCH(bool, known);
    QFETCH(qint64, resolutionNs);
    QFETCH(bool, coarse);
    QCOMPARE(Kor::Platform::coarseClockSuffices(known, resolutionNs), coarse);
}

QTEST_GUILESS_MAIN(tst_Clock)
#include "tst_clock.moc"
