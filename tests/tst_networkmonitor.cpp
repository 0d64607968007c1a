// SPDX-License-Identifier: BSD-3-Clause
// The online state from routing events, in a network namespace of the test's own: a
// default route through an interface that is up makes it online, its removal offline.

#include "NetworkMonitor.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <sched.h>

class TestNetworkMonitor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void followsTheDefaultRoute();

private:
    static bool ip(const QString &arguments);
};

void TestNetworkMonitor::initTestCase()
{
    // Nothing here may touch the machine's own interfaces.
    if (::unshare(CLONE_NEWNET) != 0)
        QSKIP("needs a network namespace of its own (root)");
}

bool TestNetworkMonitor::ip(const QString &arguments)
{
    return QProcess::execute(QStringLiteral("ip"), arguments.split(QLatin1Char(' '))) == 0;
}

void TestNetworkMonitor::followsTheDefaultRoute()
{
    NetworkMonitor monitor;
    QVERIFY(!monitor.isOnline()); // a new namespace has only its loopback
    QSignalSpy changed(&monitor, &NetworkMonitor::onlineStateChanged);

    QVERIFY(ip(QStringLiteral("link add ostra0 type veth peer name ostra1")));
    QVERIFY(ip(QStringLiteral("link set ostra0 up")));
    QVERIFY(ip(QStringLiteral("link set ostra1 up")));
    QVERIFY(!monitor.isOnline()); // up, but no way out yet
    // A route, but not the default one (to a documentation range: nothing is sent).
    QVERIFY(ip(QStringLiteral("route add 192.0.2.0/24 dev ostra0")));
    QVERIFY(!NetworkMonitor().isOnline());
    QVERIFY(ip(QStringLiteral("route add default dev ostra0")));
    QTRY_VERIFY(monitor.isOnline());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().first().toBool(), true);

    QVERIFY(ip(QStringLiteral("link set ostra0 down")));
    QTRY_VERIFY(!monitor.isOnline());
    QCOMPARE(changed.last().first().toBool(), false);
}

QTEST_GUILESS_MAIN(TestNetworkMonitor)
#include "tst_networkmonitor.moc"
