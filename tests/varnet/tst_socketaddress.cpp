#include <Kor/SocketAddress.h>

#include <QStringList>
#include <QTest>

using Kor::SocketAddress;

// Choosing from the machine's own interfaces is left to the set-up tests.
class tst_SocketAddress : public QObject
{
    Q_OBJECT
private slots:
    void choice_data()
    {
        QTest::addColumn<QStringList>("interfaces"); // "name family address [down] [loopback]" each
        QTest::addColumn<int>("policy");
        QTest::addColumn<QString>("expected");
        const QStringList typical{"lo 4 127.0.0.1 loopback", "lo 6 ::1 loopback", "eth0 6 fe80::1c2:3ff:fe04:506",
                                  "eth0 6 2001:db8::10", "eth0 4 192.168.1.20", "eth1 4 10.0.0.5"};
        QTest::newRow("both prefers ipv4") << typical << 0 << "192.168.1.20";
        QTest::newRow("ipv4 only") << typical << 1 << "192.168.1.20";
        QTest::newRow("ipv6 prefers global") << typical << 2 << "2001:db8::10";
        QTest::newRow("unknown policy as both") << typical << 7 << "192.168.1.20";
        const QStringList v6{"eth0 6 FE80::1", "eth0 6 fd00::7", "eth1 6 2001:db8::1"};
        QTest::newRow("both without ipv4") << v6 << 0 << "fd00::7";
        QTest::newRow("ipv4 only without ipv4") << v6 << 1 << "";
        QTest::newRow("link-local last resort") << QStringList{"eth0 6 fe80::1", "eth0 6 febf::2"} << 2 << "fe80::1";
        QTest::newRow("fec0 is not link-local") << QStringList{"eth0 6 fe80::1", "eth0 6 fec0::2"} << 2 << "fec0::2";
        QTest::newRow("ipv4 link-local after ipv4")
            << QStringList{"eth0 4 169.254.3.4", "eth1 4 172.16.0.1"} << 1 << "172.16.0.1";
        QTest::newRow("down skipped")
            << QStringList{"eth0 4 192.168.1.20 down", "wlan0 4 10.1.1.1"} << 0 << "10.1.1.1";
        QTest::newRow("loopback addresses skipped")
            << QStringList{"dummy0 4 127.0.0.2", "dummy0 6 ::1", "dummy0 4 0.0.0.0", "dummy0 6 ::"} << 0 << "";
        QTest::newRow("loopback interface skipped") << QStringList{"lo 4 10.9.9.9 loopback"} << 0 << "";
        QTest::newRow("garbage skipped")
            << QStringList{"x 4 not-an-address", "x 6 zz::1", "x 5 1.2.3.4", "x 4 10.0.0.1"} << 0 << "10.0.0.1";
    }
    void choice()
    {
        QFETCH(QStringList, interfaces);
        QFETCH(int, policy);
        QFETCH(QString, expected);
        Kor::TVector<SocketAddress::InterfaceAddress> list;
        for (const QString& entry : interfaces) {
            const QStringList f = entry.split(' ');
            list.push_back(
                {f[0].toStdString(), f[1].toInt(), f[2].toStdString(), !f.contains("down"), f.contains("loopback")});
        }
        QCOMPARE(QString::fromUtf8(SocketAddress::choosePreferredAddress(list, policy).c_str()), expected);
    }
};

QTEST_GUILESS_MAIN(tst_SocketAddress)
#include "tst_socketaddress.moc"
