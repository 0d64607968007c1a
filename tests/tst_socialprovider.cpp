// SPDX-License-Identifier: BSD-3-Clause
// The social provider framework's encodings and the Twitter plugin with the client
// double: records and requests both ways, friends converted to persons, the import's
// progress on the account record and in Rosterd's settings, persons requests.

#include "Fixtures.h"
#include "GetAggregatedServicesRequest.h"
#include "PlatformSettings.h"
#include "SocialGetAccountsRequest.h"
#include "SocialGetPersonsRequest.h"
#include "SocialImportProgress.h"
#include "SocialProviderInitializer.h"
#include "TestEnvironment.h"
#include "TwitterDouble.h"
#include "TwitterPlugin.h"

#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString OwnId = QStringLiteral("1318223431118950401");
const QString Own = QStringLiteral("ostra_owner");

// The account's import state as Rosterd, another process, reads it: from the file as it
// is on disk. QSettings objects of one process share what is not written yet, and write
// it when one of them ends, so none is made for that file here.
int rosterdImportState()
{
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
        + TwitterOstra::OrganizationName + QStringLiteral("/Rosterd.ini");
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("Rosterd.ini"));
    if (!QFile::copy(path, copy))
        return -1;
    return QSettings(copy, QSettings::IniFormat).value(QStringLiteral("twitter:ostra_owner"), -1).toInt();
}

QVariantList fixtureFriends()
{
    QVariantList users;
    for (const char *page : {"friends_list_page1.json", "friends_list_page2.json"})
        users += Fixtures::load(QLatin1String(page)).toMap().value(QStringLiteral("users")).toList();
    return users;
}


SocialNetworkPerson personNamed(const QList<SocialNetworkPerson> &persons, const QString &screenName)
{
    for (const SocialNetworkPerson &person : persons) {
        if (person.id().endsWith(QLatin1Char(':') + screenName))
            return person;
    }
    return SocialNetworkPerson();
}

}

class TestSocialProvider : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void recordsAndRequestsRoundTrip();
    void pluginDescribesServiceAndAccount();
    void friendsBecomePersons();
    void idOnlyPersonsKeepEveryFriend();
    void importProgressIsReported();
    void removalDuringImportEndsIt();
    void personsRequestsAreFiltered();
    void requestsBeforeAccountOrOfWrongKindFail();

private:
    TwitterPlugin *makePlugin();

    TestEnvironment mEnvironment;
    QScopedPointer<Tw::Twitter> mClient;
    QScopedPointer<TwitterPlugin> mPlugin;
};

void TestSocialProvider::initTestCase()
{
    mEnvironment.applyToProcess();
    SocialProviderInitializer::init();
}

void TestSocialProvider::init()
{
    TwitterDouble::reset();
    // The client's cache: the fixture friends, avatars for all but bob, Alice's latest
    // status, bob's record without one.
    TwitterDouble::Answer friends;
    friends.cached = fixtureFriends();
    TwitterDouble::setDefault(TwitterDouble::User, UserType::FriendsList, friends);
    TwitterDouble::setResponder(TwitterDouble::User, UserType::ProfileImage, [](const TwitterDouble::Request &request) {
        TwitterDouble::Answer avatar;
        const QString name = request.args.value(QStringLiteral("screen_name"));
        if (name != QLatin1String("bob"))
            avatar.cached = {QString(QStringLiteral("/avatars/") + name + QStringLiteral(".png"))};
        return avatar;
    });
    TwitterDouble::setResponder(TwitterDouble::User, UserType::UserShow, [](const TwitterDouble::Request &request) {
        TwitterDouble::Answer user;
        if (request.args.value(QStringLiteral("screen_name")) == QLatin1String("AliceInData"))
            user.cached = {Fixtures::load(QStringLiteral("users_show_alice.json"))};
        if (request.args.value(QStringLiteral("screen_name")) == QLatin1String("bob"))
            user.cached = {QVariantMap{{QStringLiteral("screen_name"), QStringLiteral("bob")}}};
        return user;
    });
    QFile::remove(QSettings(QSettings::IniFormat, QSettings::UserScope, TwitterOstra::OrganizationName, TwitterOstra::RosterdApplicationName).fileName());
    mPlugin.reset();
    mClient.reset(new Tw::Twitter(QStringLiteral("t"), QStringLiteral("s"), OwnId, Own, QStringLiteral("k"), QStringLiteral("c")));
}

TwitterPlugin *TestSocialProvider::makePlugin()
{
    mPlugin.reset(new TwitterPlugin(mClient.data()));
    mPlugin->setAccountInfo(QStringLiteral("t"), QStringLiteral("s"), OwnId, Own);
    return mPlugin.data();
}

void TestSocialProvider::recordsAndRequestsRoundTrip()
{
    SocialGetPersonsRequest sent;
    sent.setPropertyFilter({{QStringLiteral("ScreenName"), QRegExp(QStringLiteral("@a.*"))}});
    SocialNetworkPerson person;
    person.setProperty(SocialGenericData::Id, QStringLiteral("twitter:me:bob"));
    person.setProperty(SocialNetworkPerson::AvatarList, QStringList{QStringLiteral("/a.png")});
    person.setProperty(SocialNetworkPerson::StatusChangeTime, QDateTime(QDate(2026, 12, 6), QTime(5, 40), Qt::UTC));
    person.setParentAccount(QStringLiteral("twitter:me"));
    sent.setPersons({person});

    SocialGetPersonsRequest received;
    QVERIFY(received.fromBytes(sent.toBytes()));
    QCOMPARE(received.propertyFilter().value(QStringLiteral("ScreenName")).pattern(), QStringLiteral("@a.*"));
    QCOMPARE(received.persons().size(), 1);
    QVERIFY(received.persons().first() == person);

    // An account record carries its import progress as a typed value.
    SocialServiceAccount account;
    SocialImportProgress progress;
    progress.importing = true;
    progress.count = 42;
    account.setProperty(SocialServiceAccount::ImportProgress, QVariant::fromValue(progress));
    SocialGetAccountsRequest accounts;
    accounts.setAccounts({account});
    SocialGetAccountsRequest decodedAccounts;
    QVERIFY(decodedAccounts.fromBytes(accounts.toBytes()));
    QCOMPARE(decodedAccounts.accounts().first().propertyValue(SocialServiceAccount::ImportProgress).value<SocialImportProgress>(), progress);

    QByteArray errorBytes;
    QDataStream out(&errorBytes, QIODevice::WriteOnly);
    out << SocialProviderError(6, QStringLiteral("Handler not ready"));
    QDataStream in(errorBytes);
    SocialProviderError error;
    in >> error;
    QCOMPARE(error, SocialProviderError(6, QStringLiteral("Handler not ready")));

    // A request of one kind is not read as another.
    GetAggregatedServicesRequest services;
    QVERIFY(!accounts.fromBytes(services.toBytes()));
}

void TestSocialProvider::pluginDescribesServiceAndAccount()
{
    TwitterPlugin *plugin = makePlugin();
    QCOMPARE(plugin->qt_metacast("com.halvex.rosterd.SocialProvider/1.0"), static_cast<void *>(static_cast<SocialProviderInterface *>(plugin)));
    QCOMPARE(plugin->metaData(), (QVariantMap{{QStringLiteral("name"), QStringLiteral("twitter")}, {QStringLiteral("version"), QStringLiteral("0.2")},
                                              {QStringLiteral("comment"), QStringLiteral("Accounts Twitter Social Provider")},
                                              {QStringLiteral("icon"), QStringLiteral("icon-m-twitter")}}));
    const SocialService service = plugin->services().first();
    QCOMPARE(service.property(SocialService::ProviderName), QStringLiteral("twitter"));
    QCOMPARE(service.propertyValue(SocialService::Website).toUrl(), QUrl(QStringLiteral("https://twitter.com/")));
    QCOMPARE(service.propertyValue(SocialService::SocialActions).toInt(), 1);

    const QList<SocialServiceAccount> accounts = plugin->accounts();
    QCOMPARE(accounts.size(), 1);
    const SocialServiceAccount account = accounts.first();
    QCOMPARE(account.id(), QStringLiteral("twitter:ostra_owner"));
    QCOMPARE(account.property(SocialServiceAccount::ProfileId), QStringLiteral("twitter:ostra_owner:ostra_owner"));
    QCOMPARE(account.propertyValue(SocialServiceAccount::State).toInt(), 3);
    QCOMPARE(account.property(SocialServiceAccount::Avatar), QStringLiteral("/avatars/ostra_owner.png"));
    QCOMPARE(plugin->serviceAccount(QStringLiteral("bob")).propertyValue(SocialServiceAccount::State).toInt(), 1);

    TwitterPlugin withoutClient(nullptr);
    QVERIFY(withoutClient.accounts().isEmpty());
    QVERIFY(withoutClient.serviceAccount(Own).id().isEmpty());
}

void TestSocialProvider::friendsBecomePersons()
{
    QList<SocialNetworkPerson> persons = {SocialNetworkPerson()};
    QVERIFY(makePlugin()->friendsToPersons(fixtureFriends(), &persons, true));
    // Appended after what was there; the friend without a screen name is dropped.
    QCOMPARE(persons.size(), 1 + 5);

    const SocialNetworkPerson alice = personNamed(persons, QStringLiteral("AliceInData"));
    QCOMPARE(alice.id(), QStringLiteral("twitter:ostra_owner:AliceInData"));
    QCOMPARE(alice.property(SocialNetworkPerson::FirstName), QStringLiteral("Alice Example"));
    QCOMPARE(alice.property(QStringLiteral("ScreenName")), QStringLiteral("@AliceInData"));
    QCOMPARE(alice.propertyValue(SocialNetworkPerson::Websites).toStringList(), QStringList{QStringLiteral("https://t.co/alice")});
    QCOMPARE(alice.property(QStringLiteral("Description")), QStringLiteral("Data & <maps>"));
    QCOMPARE(alice.property(QStringLiteral("Location")), QStringLiteral("Berlin"));
    QCOMPARE(alice.propertyValue(SocialNetworkPerson::AvatarList).toStringList(), QStringList{QStringLiteral("/avatars/AliceInData.png")});
    QCOMPARE(alice.property(SocialNetworkPerson::Status), QStringLiteral("Latest status of Alice"));
    QCOMPARE(alice.propertyValue(SocialNetworkPerson::StatusChangeTime).toDateTime().toUTC(),
             QDateTime(QDate(2026, 12, 5), QTime(21, 10), Qt::UTC));
    QCOMPARE(alice.propertyValue(SocialNetworkPerson::Relationship).toInt(), 2);
    QCOMPARE(alice.parentAccount(), QStringLiteral("twitter:ostra_owner"));
    QCOMPARE(alice.property(SocialServiceAccount::SocialServiceId), QStringLiteral("twitter"));

    const SocialNetworkPerson bob = personNamed(persons, QStringLiteral("bob"));
    for (const QString &absent : {SocialNetworkPerson::Websites, QStringLiteral("Description"), QStringLiteral("Location"),
                                  SocialNetworkPerson::Status, SocialNetworkPerson::StatusChangeTime, SocialNetworkPerson::AvatarList})
        QVERIFY2(!bob.hasProperty(absent), qPrintable(absent));
    QCOMPARE(personNamed(persons, QStringLiteral("noname_user")).property(SocialNetworkPerson::FirstName), QStringLiteral("noname_user"));
    QCOMPARE(personNamed(persons, Own).propertyValue(SocialNetworkPerson::Relationship).toInt(), 1);
}

void TestSocialProvider::idOnlyPersonsKeepEveryFriend()
{
    QList<SocialNetworkPerson> persons;
    makePlugin()->friendsToPersons(fixtureFriends(), &persons, false);
    QCOMPARE(persons.size(), 6);
    QCOMPARE(persons.last().id(), QStringLiteral("twitter:ostra_owner:"));
    QVERIFY(!persons.first().hasProperty(SocialNetworkPerson::FirstName));
    QCOMPARE(persons.first().properties().keys(), (QStringList{SocialGenericData::Id, SocialNetworkPerson::Relationship}));
}

void TestSocialProvider::importProgressIsReported()
{
    TwitterPlugin *plugin = makePlugin();
    QSignalSpy data(plugin, &SocialProviderInterface::dataUpdate);
    QSignalSpy persons(plugin, &SocialProviderInterface::personsUpdate);

    plugin->updateData(false, true);
    QCOMPARE(data.count(), 1);
    SocialImportProgress progress = data.last().at(0).value<QList<SocialGenericData>>().first()
                                        .propertyValue(SocialServiceAccount::ImportProgress).value<SocialImportProgress>();
    QVERIFY(progress.importing);
    QCOMPARE(progress.count, 0);
    QCOMPARE(data.last().at(1).value<QList<QString>>(), QList<QString>{SocialServiceAccount::ImportProgress});
    QCOMPARE(rosterdImportState(), 1);
    QCOMPARE(persons.count(), 0);

    plugin->updateData(true, true);
    plugin->updateData(true, true);
    QCOMPARE(data.count(), 2); // progress once
    progress = data.last().at(0).value<QList<SocialGenericData>>().first()
                   .propertyValue(SocialServiceAccount::ImportProgress).value<SocialImportProgress>();
    QVERIFY(!progress.importing);
    QCOMPARE(progress.count, 6);
    QCOMPARE(rosterdImportState(), 2);
    QCOMPARE(persons.count(), 2); // id-only persons each time
    QCOMPARE(persons.last().at(0).value<QList<SocialNetworkPerson>>().size(), 6);
}

void TestSocialProvider::removalDuringImportEndsIt()
{
    TwitterPlugin *plugin = makePlugin();
    plugin->updateData(false, true);
    QSignalSpy data(plugin, &SocialProviderInterface::dataUpdate);
    plugin->accountRemoved();
    QCOMPARE(data.count(), 1);
    const SocialGenericData account = data.first().at(0).value<QList<SocialGenericData>>().first();
    QCOMPARE(account.propertyValue(SocialServiceAccount::State).toInt(), 5);
    const SocialImportProgress progress = account.propertyValue(SocialServiceAccount::ImportProgress).value<SocialImportProgress>();
    QVERIFY(!progress.importing);
    QCOMPARE(progress.count, 6);
    QCOMPARE(data.first().at(1).value<QList<QString>>(),
             (QList<QString>{SocialServiceAccount::State, SocialServiceAccount::ImportProgress}));
    QCOMPARE(rosterdImportState(), 2);

    plugin->accountDisabled(); // no import under way: the state alone
    QCOMPARE(data.last().at(1).value<QList<QString>>(), QList<QString>{SocialServiceAccount::State});
}

void TestSocialProvider::personsRequestsAreFiltered()
{
    TwitterPlugin *plugin = makePlugin();
    // No friends retrieved yet. The request comes with a person of its own, which the
    // answer, written back over the request and seen by every peer, must not pass on.
    SocialGetPersonsRequest early;
    SocialNetworkPerson planted;
    planted.setProperty(SocialGenericData::Id, QStringLiteral("twitter:me:mallory"));
    early.setPersons({planted});
    QSignalSpy finished(&early, &SocialDataRequest::finished);
    plugin->performRequest(&early);
    QCOMPARE(finished.count(), 1);
    QVERIFY(early.errors().isEmpty());
    QVERIFY(early.persons().isEmpty());

    plugin->updateData(true, false);
    SocialGetPersonsRequest all;
    plugin->performRequest(&all);
    QCOMPARE(all.persons().size(), 5);

    SocialGetPersonsRequest startingWithA;
    startingWithA.setPropertyFilter({{QStringLiteral("ScreenName"), QRegExp(QStringLiteral("@a.*"), Qt::CaseInsensitive)}});
    plugin->performRequest(&startingWithA);
    QCOMPARE(startingWithA.persons().size(), 1);
    QCOMPARE(startingWithA.persons().first().property(QStringLiteral("ScreenName")), QStringLiteral("@AliceInData"));

    SocialGetPersonsRequest twoEntries;
    twoEntries.setPropertyFilter({{QStringLiteral("ScreenName"), QRegExp(QStringLiteral("@.*_.*"))},
                                  {SocialNetworkPerson::FirstName, QRegExp(QStringLiteral("Carol.*"))}});
    plugin->performRequest(&twoEntries);
    QCOMPARE(twoEntries.persons().size(), 1);
    QCOMPARE(twoEntries.persons().first().property(SocialNetworkPerson::FirstName), QStringLiteral("Carol W"));

    // A filter matching the start only is no match.
    SocialGetPersonsRequest partial;
    partial.setPropertyFilter({{QStringLiteral("ScreenName"), QRegExp(QStringLiteral("@Alice"))}});
    plugin->performRequest(&partial);
    QVERIFY(partial.persons().isEmpty());
}

void TestSocialProvider::requestsBeforeAccountOrOfWrongKindFail()
{
    TwitterPlugin plugin(mClient.data());
    SocialGetPersonsRequest persons;
    plugin.performRequest(&persons);
    QCOMPARE(persons.errors().size(), 1);
    QCOMPARE(persons.errors().first().type(), 6);
    QCOMPARE(persons.errors().first().description(), QStringLiteral("TwitterSocialProvider failed to initialize (No accounts?)."));

    // Services and accounts come from the base, also before the account is set.
    GetAggregatedServicesRequest services;
    plugin.performRequest(&services);
    QCOMPARE(services.services().size(), 1);
    QVERIFY(services.errors().isEmpty());

    TwitterPlugin *ready = makePlugin();
    GetAggregatedServicesRequest notPersons;
    QVERIFY(!ready->onGetPersonRequest(&notPersons));
    QCOMPARE(notPersons.errors().first().type(), 7);
    QCOMPARE(notPersons.state(), int(SocialDataRequest::Finished));
}

QTEST_GUILESS_MAIN(TestSocialProvider)
#include "tst_socialprovider.moc"
