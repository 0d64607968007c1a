// What the machine does to a running daemon: the session bus going away.

#include "E2eSession.h"

#include <QTest>

class TestE2eEnvironment : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lostBusEndsTheDaemonWithStatusOne();
};

void TestE2eEnvironment::lostBusEndsTheDaemonWithStatusOne()
{
    E2eSession session;
    QVERIFY(session.start());
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());

    session.bus().kill();
    // Left running it would be unreachable for good; ended, its service manager restarts it.
    QTRY_COMPARE_WITH_TIMEOUT(session.daemon().state(), QProcess::NotRunning, 10000);
    QCOMPARE(session.daemon().exitStatus(), QProcess::NormalExit);
    QCOMPARE(session.daemon().exitCode(), 1);
    QVERIFY2(session.log().contains(QStringLiteral("Lost the connection to the session bus")), qPrintable(session.log()));
}

QTEST_GUILESS_MAIN(TestE2eEnvironment)
#include "tst_e2eenvironment.moc"
