// The road of the home timeline through real processes: the daemon (linked with the
// scripted client) and the reference feed on a private bus. The feed asks for a refresh,
// the fixtures' newest 20 tweets become its items, and a second refresh adds none.

#include "EventFeedProcess.h"
#include "Fixtures.h"
#include "PrivateBus.h"
#include "TestEnvironment.h"

#include <QDataStream>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTest>

#include <csignal>

namespace {

QString shownId(const QVariantMap &tweet)
{
    const QVariant retweeted = tweet.value(QStringLiteral("retweeted_status"));
    return (retweeted.isValid() ? retweeted.toMap() : tweet).value(QStringLiteral("id")).toString();
}

QString actionId(const QJsonValue &item)
{
    const QString action = item[QStringLiteral("item")][QStringLiteral("action")].toString();
    QByteArray bytes = QByteArray::fromBase64(action.section(QLatin1Char(' '), 4, 4).toLatin1());
    QDataStream stream(&bytes, QIODevice::ReadOnly);
    QVariant id;
    stream >> id;
    return id.toString();
}

}

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refreshPublishesTheNewestTwentyOnce();
};

void TestEndToEnd::refreshPublishesTheNewestTwentyOnce()
{
    PrivateBus bus;
    QVERIFY(bus.isValid());
    TestEnvironment environment;
    environment.writeDefaultAccount();
    EventFeedProcess feed(bus);
    QVERIFY(feed.start());

    QProcess daemon;
    daemon.setProcessEnvironment(environment.processEnvironment(bus.address()));
    daemon.start(QStringLiteral(SCRIPTED_DAEMON_BINARY), {QStringLiteral("--debug")});
    QVERIFY(bus.waitForName(QStringLiteral("com.halvex.twitterostra")));
    QString log;
    connect(&daemon, &QProcess::readyReadStandardError, this,
            [&] { log += QString::fromUtf8(daemon.readAllStandardError()); });
    const auto refreshesHandled = [&log] { return log.count(QStringLiteral("HomeTimeline. Item count")); };

    // A refresh before the login only starts the login; ask until one is answered.
    QTRY_VERIFY_WITH_TIMEOUT((feed.control().requestRefresh().waitForFinished(), refreshesHandled() > 0), 10000);
    QTRY_COMPARE(feed.items().size(), 20);

    QStringList expected;
    const QVariantList timeline = Fixtures::homeTimeline();
    for (int i = 0; i < 20; ++i)
        expected.append(shownId(timeline.at(i).toMap()));
    QStringList published;
    for (const QJsonValue &item : feed.items())
        published.append(actionId(item));
    QCOMPARE(QSet<QString>(published.begin(), published.end()), QSet<QString>(expected.begin(), expected.end()));

    const int handled = refreshesHandled();
    feed.control().requestRefresh().waitForFinished();
    QTRY_VERIFY(refreshesHandled() > handled);
    QCOMPARE(feed.items().size(), 20);

    ::kill(daemon.processId(), SIGTERM);
    QVERIFY(daemon.waitForFinished(10000));
    QCOMPARE(daemon.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
