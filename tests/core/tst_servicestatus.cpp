// The status record of a service: what each report fills in, and the
// datagram the service manager receives for it.
#include "ServiceStatus_p.h"

#include <QTest>

using namespace Kor::NS;

class tst_ServiceStatus : public QObject
{
    Q_OBJECT
private slots:
    void reportsInARow();
    void messages_data();
    void messages();
};

// Check points count on across pending phases and are 0 for running and
// stopped; nothing is accepted while the start is pending.
void tst_ServiceStatus::reportsInARow()
{
    struct Report { unsigned long state, checkPoint, accepted; };
    const Report reports[] = {
        { SERVICE_START_PENDING, 1, 0 }, { SERVICE_RUNNING, 0, 5 },      { SERVICE_STOP_PENDING, 2, 5 },
        { SERVICE_STOP_PENDING, 3, 5 },  { SERVICE_STOPPED, 0, 5 },      { SERVICE_START_PENDING, 4, 0 },
        { 7, 5, 5 },
    };
    ServiceStatus status;
    unsigned long counter = 1;
    for (const Report& report : reports) {
        updateServiceStatus(status, counter, report.state, 9, 3000);
        QCOMPARE(status.currentState, report.state);
        QCOMPARE(status.checkPoint, report.checkPoint);
        QCOMPARE(status.controlsAccepted, report.accepted);
        QCOMPARE(status.win32ExitCode, 9ul);
        QCOMPARE(status.waitHint, 3000ul);
    }
}

void tst_ServiceStatus::messages_data()
{
    QTest::addColumn<ulong>("state");
    QTest::addColumn<ulong>("waitHint");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("starting") << ulong(SERVICE_START_PENDING) << 0ul << QByteArray("STATUS=starting");
    QTest::newRow("starting with a hint") << ulong(SERVICE_START_PENDING) << 2500ul
                                          << QByteArray("STATUS=starting\nEXTEND_TIMEOUT_USEC=2500000");
    QTest::newRow("running") << ulong(SERVICE_RUNNING) << 0ul << QByteArray("READY=1\nSTATUS=running since 2024-03-05 14:07:09, pid 42\nMAINPID=42");
    QTest::newRow("stopping") << ulong(SERVICE_STOP_PENDING) << 0ul
                              << QByteArray("STOPPING=1\nSTATUS=stopping");
    QTest::newRow("stopped") << ulong(SERVICE_STOPPED) << 0ul << QByteArray("STATUS=stopped, exit code 4294967295");
}

void tst_ServiceStatus::messages()
{
    QFETCH(ulong, state);
    QFETCH(ulong, waitHint);
    QFETCH(QByteArray, message);
    ServiceStatus status;
    unsigned long counter = 1;
    updateServiceStatus(status, counter, state, 0xFFFFFFFF, waitHint);
    QCOMPARE(QByteArray::fromStdString(serviceStatusMessage(status, 42, "2024-03-05 14:07:09")), message);
}

QTEST_APPLESS_MAIN(tst_ServiceStatus)
#include "tst_servicestatus.moc"
