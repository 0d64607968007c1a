// SPDX-License-Identifier: BSD-3-Clause
// Against the service's rate limits and paging, windows compressed to seconds: a following
// that takes more than one window arrives whole, and news of more than a page that came
// while the daemon was away is notified, every item once.

#include "SessionTestCase.h"
#include "SocialNetworkPerson.h"

#include <QJsonArray>
#include <QSettings>
#include <QTest>

namespace {

const int WindowSeconds = 3;
const QString FriendsList = QStringLiteral("/1.1/friends/list.json");

}

class TestE2eRateLimits : public SessionTestCase
{
    Q_OBJECT

public:
    TestE2eRateLimits()
        : SessionTestCase(ServicesOnly, WindowSeconds)
    {
    }

private Q_SLOTS:
    void followingBeyondOneWindowArrivesWhole();
    void newsOfMoreThanAPageAreNotifiedOnce();

private:
    int importState() const;
    int notified(const QString &eventType) const;
};

int TestE2eRateLimits::importState() const
{
    return QSettings(mSession->environment().configHome() + QStringLiteral("/Halvex/Rosterd.ini"), QSettings::IniFormat)
        .value(QStringLiteral("twitter:AliceInData"))
        .toInt();
}

// The counts of the kind's notifications: each item is in exactly one of them.
int TestE2eRateLimits::notified(const QString &eventType) const
{
    int count = 0;
    for (const QJsonObject &entry : mSession->storeEntries(QStringLiteral("notification"))) {
        if (entry[QStringLiteral("eventType")].toString() == eventType)
            count += entry[QStringLiteral("count")].toInt();
    }
    return count;
}

// 5,000 friends in 25 pages of 200, of which one window allows 15: the client holds the
// endpoint once an answer says the window is spent, the import waits for the reset and
// goes on from its cursor, reported running until the list is whole.
void TestE2eRateLimits::followingBeyondOneWindowArrivesWhole()
{
    PlatformSession &session = *mSession;
    QVERIFY(session.server().post(QStringLiteral("friends"), {{QStringLiteral("generate"), 5000}}));
    session.environment().writeAccount({{QStringLiteral("services/contacts"), false}});
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.bus().waitForName(QStringLiteral("com.halvex.socialprovider.twitter")));
    session.environment().writeAccount({{QStringLiteral("services/contacts"), true}});

    const auto friendsPages = [&](const QString &status) {
        return session.server().requestCounts().value(FriendsList).toObject().value(status).toInt();
    };
    QVERIFY(session.waitFor([&] { return friendsPages(QStringLiteral("200")) >= 15; }, 30000));
    QCOMPARE(importState(), 1);
    QVERIFY(session.waitFor([&] { return importState() == 2; }, 90000));
    QList<SocialNetworkPerson> persons;
    QString error;
    QVERIFY2(session.requestPersons(&persons, &error), qPrintable(error));
    QCOMPARE(persons.size(), 5000);

    QCOMPARE(friendsPages(QStringLiteral("200")), 25);
    // The client held the endpoint from the answer that spent the window: none was sent
    // only to be refused.
    QCOMPARE(friendsPages(QStringLiteral("429")), 0);
}

// 45 mentions and 30 messages since the last-seen ids: more than the default page of 20
// each. The polls page back until the gap closes and notify each item once.
void TestE2eRateLimits::newsOfMoreThanAPageAreNotifiedOnce()
{
    PlatformSession &session = *mSession;
    const QString marker = session.postTweet(QStringLiteral("marker"));
    session.storeLastSeenIds(marker);
    for (int i = 0; i < 45; ++i)
        QVERIFY(session.server().post(QStringLiteral("mentions"), {{QStringLiteral("text"), QStringLiteral("@AliceInData %1").arg(i)},
                                                                   {QStringLiteral("screen_name"), QStringLiteral("gus")}}));
    for (int i = 0; i < 30; ++i)
        QVERIFY(session.server().post(QStringLiteral("messages"), {{QStringLiteral("text"), QStringLiteral("message %1").arg(i)},
                                                                   {QStringLiteral("screen_name"), QStringLiteral("hana")}}));
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.mentionsGroup()[QStringLiteral("count")].toInt(), 45, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(session.group(QStringLiteral("messages.service.twitter"))[QStringLiteral("count")].toInt(), 30, 15000);
    QCOMPARE(notified(QStringLiteral("mentions.service.twitter")), 45);
    QCOMPARE(notified(QStringLiteral("messages.service.twitter")), 30);

    // The markers moved past all of them: the next poll brings nothing again.
    QVERIFY(session.refresh());
    QCOMPARE(session.mentionsGroup()[QStringLiteral("count")].toInt(), 45);
    QCOMPARE(notified(QStringLiteral("messages.service.twitter")), 30);
}

QTEST_GUILESS_MAIN(TestE2eRateLimits)
#include "tst_e2eratelimits.moc"
