// SPDX-License-Identifier: BSD-3-Clause
// Friends as contacts at 5,000 friends, through the real client library's on-disk cache:
// the full conversion of an import, and a filtered persons request answered from it.
// Two friends in five have their avatar in the cache, so that its lookup is measured too.

#include "SocialGetPersonsRequest.h"
#include "TestEnvironment.h"
#include "TwCache.h"
#include "TwPictures.h"
#include "Twitter.h"
#include "TwitterPlugin.h"

#include <QBuffer>
#include <QTest>

namespace {

const int FriendCount = 5000;
const QString OwnId = QStringLiteral("1318223431118950401");
const QString Own = QStringLiteral("ostra_owner");

bool hasAvatar(int i)
{
    return i % 5 < 2;
}

QVariantMap friendNumber(int i)
{
    const QString name = QStringLiteral("friend_%1").arg(i);
    return {{QStringLiteral("id"), QString::number(1000000 + i)}, {QStringLiteral("screen_name"), name},
            {QStringLiteral("name"), QStringLiteral("Friend %1").arg(i)}, {QStringLiteral("url"), QStringLiteral("https://t.co/f%1").arg(i)},
            {QStringLiteral("description"), QStringLiteral("Someone to follow, number %1").arg(i)},
            {QStringLiteral("location"), QStringLiteral("Helsinki")}};
}

int withAvatar(const QList<SocialNetworkPerson> &persons)
{
    int count = 0;
    for (const SocialNetworkPerson &person : persons) {
        const QStringList avatars = person.propertyValue(SocialNetworkPerson::AvatarList).toStringList();
        if (avatars.size() == 1 && QFile::exists(avatars.first()))
            ++count;
    }
    return count;
}

}

class BenchFriends : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void fullConversion();
    void filteredPersonsRequest();

private:
    TestEnvironment mEnvironment;
    QScopedPointer<Tw::Twitter> mClient;
    QScopedPointer<TwitterPlugin> mPlugin;
    QVariantList mFriends;
};

void BenchFriends::initTestCase()
{
    mEnvironment.applyToProcess();
    // The cache as a completed friends paging and the users' lookups leave it.
    TwCache cache(OwnId);
    for (int i = 0; i < FriendCount; ++i) {
        QVariantMap user = friendNumber(i);
        mFriends.append(user);
        user.insert(QStringLiteral("status"), QVariantMap{{QStringLiteral("text"), QStringLiteral("Status %1").arg(i)},
                                                          {QStringLiteral("created_at"), QStringLiteral("Sun Dec 06 05:40:12 +0000 2026")}});
        QVERIFY(cache.storeResponse(QStringLiteral("user/") + user.value(QStringLiteral("screen_name")).toString(), user));
    }
    QVERIFY(cache.storeResponse(QStringLiteral("friends/") + Own, mFriends));
    // Avatars as the client stores them: composed to the size asked for, the picture's
    // address in the PNG's text, under the hash of "<screen name>/<size>".
    QImage picture(128, 128, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QImage avatar = TwPictures::composeAvatar(picture, QImage(), QStringLiteral("bigger"));
    for (int i = 0; i < FriendCount; ++i) {
        if (!hasAvatar(i))
            continue;
        const QString screenName = QStringLiteral("friend_%1").arg(i);
        avatar.setText(QStringLiteral("Source"), QStringLiteral("https://pbs.twimg.com/profile_images/%1/photo_bigger.png").arg(i));
        QByteArray encoded;
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(avatar.save(&buffer, "png"));
        QVERIFY(TwCache::writeFile(cache.picturePath(QStringLiteral("avatars"), screenName + QStringLiteral("/bigger"))
                                       + QStringLiteral(".png"), encoded));
    }
    mClient.reset(new Tw::Twitter(QStringLiteral("token"), QStringLiteral("token-secret"), OwnId, Own,
                                  QStringLiteral("consumer-key"), QStringLiteral("consumer-secret")));
    mPlugin.reset(new TwitterPlugin(mClient.data()));
    mPlugin->setAccountInfo(QStringLiteral("token"), QStringLiteral("token-secret"), OwnId, Own);
}

void BenchFriends::fullConversion()
{
    QList<SocialNetworkPerson> persons;
    QBENCHMARK {
        persons.clear();
        mPlugin->friendsToPersons(mFriends, &persons, true);
    }
    QCOMPARE(persons.size(), FriendCount);
    QCOMPARE(persons.last().property(SocialNetworkPerson::Status), QStringLiteral("Status 4999"));
    QCOMPARE(withAvatar(persons), 2000);
}

void BenchFriends::filteredPersonsRequest()
{
    mPlugin->updateData(true, false); // an import: the persons are converted once
    SocialGetPersonsRequest *last = nullptr;
    QBENCHMARK {
        delete last;
        last = new SocialGetPersonsRequest;
        last->setPropertyFilter({{QStringLiteral("ScreenName"), QRegExp(QStringLiteral("@friend_12.*"))}});
        mPlugin->performRequest(last);
    }
    QCOMPARE(last->persons().size(), 111); // friend_12, friend_120 to 129, friend_1200 to 1299
    QCOMPARE(withAvatar(last->persons()), 4 + 40); // those ending in 0, 1, 5 or 6
    delete last;
}

QTEST_GUILESS_MAIN(BenchFriends)
#include "bench_friends.moc"
