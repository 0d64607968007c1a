// Removing the account while the real daemon runs: its items leave the reference feed,
// the cache table and the last-seen ids go, the next start is a first start, status 0.

#include "EventFeedProcess.h"
#include "PrivateBus.h"
#include "TestEnvironment.h"

#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

class TestAccountRemoval : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void removalCleansUpAndExitsZero_data();
    void removalCleansUpAndExitsZero();

private:
    QStringList cacheTables(const QString &path);
    PrivateBus mBus;
};

void TestAccountRemoval::initTestCase()
{
    QVERIFY(mBus.isValid());
}

QStringList TestAccountRemoval::cacheTables(const QString &path)
{
    QStringList tables;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        if (db.open())
            tables = db.tables();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return tables;
}

void TestAccountRemoval::removalCleansUpAndExitsZero_data()
{
    QTest::addColumn<QString>("accountKey");
    QTest::addColumn<int>("feedReplyDelay");
    QTest::newRow("account removed") << "account/present" << 0;
    QTest::newRow("account service off") << "services/account" << 0;
    QTest::newRow("feed never answers") << "account/present" << -1;
}

void TestAccountRemoval::removalCleansUpAndExitsZero()
{
    QFETCH(QString, accountKey);
    QFETCH(int, feedReplyDelay);
    TestEnvironment environment;
    environment.writeDefaultAccount();
    {
        QSettings settings(environment.daemonSettingsFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("FirstStart"), false);
        settings.setValue(QStringLiteral("LastIdMessages"), QStringLiteral("100"));
        settings.setValue(QStringLiteral("LastIdMentions"), QStringLiteral("200"));
    }
    EventFeedProcess feed(mBus);
    QVERIFY(feed.start());
    feed.control().setReplyDelay(feedReplyDelay).waitForFinished();

    QProcess daemon;
    daemon.setProcessEnvironment(environment.processEnvironment(mBus.address()));
    daemon.start(QStringLiteral(DAEMON_BINARY), QStringList());
    QVERIFY(mBus.waitForName(QStringLiteral("com.halvex.twitterostra")));
    // The bus name comes first; the cache follows within the same start-up.
    QTRY_VERIFY(cacheTables(environment.cacheDatabase()).contains(QStringLiteral("items")));

    environment.writeAccount({{accountKey, false}});
    QVERIFY(daemon.waitForFinished(20000));
    QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
    QCOMPARE(daemon.exitCode(), 0);

    QTRY_VERIFY(!feed.calls().isEmpty());
    const QJsonObject call = feed.calls().last().toObject();
    QCOMPARE(call[QStringLiteral("method")].toString(), QStringLiteral("removeItemsBySourceName"));
    QCOMPARE(call[QStringLiteral("arguments")].toArray().first().toString(), QStringLiteral("Twitter"));
    QVERIFY(!cacheTables(environment.cacheDatabase()).contains(QStringLiteral("items")));

    QSettings settings(environment.daemonSettingsFile(), QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("FirstStart")).toBool(), true);
    QVERIFY(!settings.contains(QStringLiteral("LastIdMessages")));
    QVERIFY(!settings.contains(QStringLiteral("LastIdMentions")));
}

QTEST_GUILESS_MAIN(TestAccountRemoval)
#include "tst_accountremoval.moc"
