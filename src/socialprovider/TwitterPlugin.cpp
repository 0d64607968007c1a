// SPDX-License-Identifier: BSD-3-Clause
#include "TwitterPlugin.h"

#include "PlatformSettings.h"
#include "SocialDataRequest.h"
#include "SocialGetPersonsRequest.h"
#include "SocialImportProgress.h"
#include "SocialProviderInitializer.h"
#include "Twitter.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QUrl>

namespace {

const QString ServiceDescription = QStringLiteral("Twitter");
const QString IconName = QStringLiteral("icon-m-twitter");
const QString ServiceWebsite = QStringLiteral("https://twitter.com/");
const QString ScreenNameKey = QString::fromLatin1(Tw::Twitter::ScreenNameKey);

enum AccountState {
    ACCOUNT_STATE_NONE = 0,
    ACCOUNT_STATE_OTHER = 1,
    ACCOUNT_STATE_READY = 3,
    ACCOUNT_STATE_DISABLED = 4,
    ACCOUNT_STATE_REMOVED = 5
};

// Values of the import state under the account id in Rosterd's settings.
const int ImportRunning = 1;
const int ImportFinished = 2;
// Filtering the persons of a request answers on the main loop; 5,000 friends take a few
// milliseconds with ordinary expressions, bounded ones that backtrack can take seconds.
const qint64 MaxFilterMs = 50;

enum Relationship {
    RELATIONSHIP_SELF = 1,
    RELATIONSHIP_FRIEND = 2
};

QString text(const QVariantMap &map, const QString &key)
{
    return map.value(key).toString();
}

}

const QString TwitterPlugin::ProviderName = QStringLiteral("twitter");

QVariantMap TwitterPlugin::providerMetaData()
{
    return {{QStringLiteral("name"), ProviderName},
            {QStringLiteral("version"), QStringLiteral("0.2")},
            {QStringLiteral("comment"), QStringLiteral("Accounts Twitter Social Provider")},
            {QStringLiteral("icon"), IconName}};
}

TwitterPlugin::TwitterPlugin(Tw::Twitter *client)
    : SocialProviderInterface(nullptr)
    , mTwitterClient(client)
    , mAccountState(ACCOUNT_STATE_NONE)
    , mImportDone(true)
    , mSettings(QSettings::IniFormat, QSettings::UserScope, TwitterOstra::OrganizationName,
                TwitterOstra::RosterdApplicationName)
{
    SocialProviderInitializer::init();
}

void TwitterPlugin::setAccountInfo(const QString & /*token*/, const QString & /*tokenSecret*/, const QString &userId,
                                   const QString &screenName)
{
    mAccountState = ACCOUNT_STATE_READY;
    mOwnUserId = userId;
    mOwnScreenName = screenName;
}

QString TwitterPlugin::accountId(const QString &screenName) const
{
    return ProviderName + QStringLiteral(":%1").arg(screenName);
}

QString TwitterPlugin::accountId() const
{
    return accountId(mOwnScreenName);
}

void TwitterPlugin::onAttached()
{
}

QVariantMap TwitterPlugin::metaData()
{
    return providerMetaData();
}

QVariantList TwitterPlugin::cachedUserResources(int userType, const QMap<QString, QString> &parameters)
{
    QVariantList result;
    int queryId = -1;
    if (mTwitterClient && mTwitterClient->retrieveUserResources(&result, &queryId, UserType::UserType(userType), parameters,
                                              Tw::Twitter::RETRIEVE_FROM_CACHE)
        != Tw::Twitter::RETRIEVE_OK)
        qDebug() << Q_FUNC_INFO << "retrieveUserResources returned != ok";
    return result;
}

// The cached avatar's path; empty when it is not cached, which the client answers with an
// empty path.
QString TwitterPlugin::cachedAvatar(const QString &screenName)
{
    return cachedUserResources(UserType::ProfileImage, {{ScreenNameKey, screenName}, {QStringLiteral("size"), QStringLiteral("bigger")}})
        .value(0)
        .toString();
}

SocialServiceAccount TwitterPlugin::serviceAccount(const QString &screenName)
{
    SocialServiceAccount account;
    if (!mTwitterClient)
        return account;
    account.setProperty(SocialGenericData::Id, accountId(screenName));
    account.setProperty(SocialServiceAccount::SocialServiceId, ProviderName);
    account.setProperty(SocialServiceAccount::AccountName, screenName);
    account.setProperty(SocialServiceAccount::UserName, screenName);
    if (screenName != mOwnScreenName) {
        account.setProperty(SocialServiceAccount::State, ACCOUNT_STATE_OTHER);
        return account;
    }
    account.setProperty(SocialServiceAccount::State, mAccountState);
    account.setProperty(SocialServiceAccount::ProfileId, QString(accountId() + QLatin1Char(':') + mOwnScreenName));
    const QString avatar = cachedAvatar(mOwnScreenName);
    if (!avatar.isEmpty())
        account.setProperty(SocialServiceAccount::Avatar, avatar);
    return account;
}

QList<SocialService> TwitterPlugin::services()
{
    SocialService service;
    service.setProperty(SocialService::ProviderName, ProviderName);
    service.setProperty(SocialGenericData::Id, ProviderName);
    service.setProperty(SocialGenericData::Description, ServiceDescription);
    service.setProperty(SocialService::Icon, IconName);
    service.setProperty(SocialService::Website, QUrl(ServiceWebsite));
    service.setProperty(SocialService::SocialActions, 1);
    return {service};
}

QList<SocialServiceAccount> TwitterPlugin::accounts()
{
    if (!mTwitterClient)
        return SocialProviderInterface::accounts();
    return {serviceAccount(mOwnScreenName)};
}

void TwitterPlugin::performRequest(SocialDataRequest *request)
{
    if (request->type() == SocialDataRequest::Accounts || request->type() == SocialDataRequest::AggregatedServices) {
        SocialProviderInterface::performRequest(request);
        return;
    }
    if (mAccountState == ACCOUNT_STATE_NONE) {
        request->setState(SocialDataRequest::Finished,
                          {SocialProviderError(SocialProviderError::NotInitialized,
                                               QStringLiteral("TwitterSocialProvider failed to initialize (No accounts?)."))});
        return;
    }
    if (request->type() == SocialDataRequest::Persons && !onGetPersonRequest(request))
        return;
    request->setState(SocialDataRequest::Finished, {});
}

bool TwitterPlugin::onGetPersonRequest(SocialDataRequest *request)
{
    qDebug() << Q_FUNC_INFO;
    auto *personsRequest = qobject_cast<SocialGetPersonsRequest *>(request);
    if (!personsRequest) {
        request->setState(SocialDataRequest::Finished,
                          {SocialProviderError(SocialProviderError::InvalidRequest, QString())});
        return false;
    }
    request->setState(SocialDataRequest::Running, {});
    // Converted once per import; requests are answered from the cache.
    if (mPersonCache.isEmpty())
        friendsToPersons(mFriends, &mPersonCache, true);
    const QList<SocialNetworkPerson> &persons = mPersonCache;
    const QHash<QString, QRegExp> filter = personsRequest->propertyFilter();
    QList<SocialNetworkPerson> kept;
    QElapsedTimer spent;
    spent.start();
    int tested = 0;
    for (const SocialNetworkPerson &person : persons) {
        if (spent.elapsed() > MaxFilterMs) {
            qWarning() << Q_FUNC_INFO << "filter given up after" << spent.elapsed() << "ms," << tested << "of"
                       << persons.size() << "persons tested";
            request->setState(SocialDataRequest::Finished,
                              {SocialProviderError(SocialProviderError::RequestFailed,
                                                   QStringLiteral("The filter takes too long"))});
            return false;
        }
        bool matches = true;
        for (auto it = filter.cbegin(); matches && it != filter.cend(); ++it)
            matches = it.value().exactMatch(person.property(it.key()));
        if (matches)
            kept.append(person);
        ++tested;
    }
    // Set even when nobody is answered: the answer is the request written back, and one
    // that came with persons of its own would pass them on to every peer as friends.
    personsRequest->setPersons(filter.isEmpty() ? persons : kept);
    qDebug() << Q_FUNC_INFO << "Friends added:" << persons.size();
    return true;
}

// Announces the import's state on the account record and in Rosterd's settings.
void TwitterPlugin::reportImport(bool importing, int count)
{
    mSettings.setValue(accountId(), importing ? ImportRunning : ImportFinished);
    mSettings.sync();
    SocialImportProgress progress;
    progress.importing = importing;
    progress.count = count;
    SocialServiceAccount account = serviceAccount(mOwnScreenName);
    account.setProperty(SocialServiceAccount::ImportProgress, QVariant::fromValue(progress));
    emit dataUpdate({account}, {SocialServiceAccount::ImportProgress});
}

void TwitterPlugin::sendAccountState()
{
    SocialServiceAccount account = serviceAccount(mOwnScreenName);
    account.setProperty(SocialServiceAccount::State, mAccountState);
    QList<QString> changed = {SocialServiceAccount::State};
    if (!mImportDone) {
        // An import reported as running ends with the account's state change.
        SocialImportProgress progress;
        progress.count = mFriends.size();
        qDebug() << Q_FUNC_INFO << "Account" << accountId() << "removed, sending importProgress - importing? :" << false;
        mSettings.setValue(accountId(), ImportFinished);
        mSettings.sync();
        account.setProperty(SocialServiceAccount::ImportProgress, QVariant::fromValue(progress));
        changed.append(SocialServiceAccount::ImportProgress);
    }
    emit dataUpdate({account}, changed);
    mImportDone = true;
}

void TwitterPlugin::accountRemoved()
{
    qDebug() << Q_FUNC_INFO;
    mAccountState = ACCOUNT_STATE_REMOVED;
    sendAccountState();
}

void TwitterPlugin::accountDisabled()
{
    qDebug() << Q_FUNC_INFO;
    mAccountState = ACCOUNT_STATE_DISABLED;
    sendAccountState();
}

void TwitterPlugin::updateData(bool done, bool report)
{
    qDebug() << Q_FUNC_INFO << done << report;
    mPersonCache.clear();
    mFriends = cachedUserResources(UserType::FriendsList, {{ScreenNameKey, mOwnScreenName}});

    if (mImportDone != done && report) {
        const int count = done ? mFriends.size() : 0;
        qDebug() << Q_FUNC_INFO << "Account" << accountId() << "sending importProgress - importing? :" << !done
                 << " Count: " << count;
        reportImport(!done, count);
        mImportDone = done;
    }
    if (!done || mFriends.isEmpty())
        return;
    QList<SocialNetworkPerson> persons;
    friendsToPersons(mFriends, &persons, false);
    if (!persons.isEmpty()) {
        qDebug() << Q_FUNC_INFO << " emitting personsUpdate(): count: " << persons.size();
        emit personsUpdate(persons, QList<QString>());
    }
    persons.clear();
    friendsToPersons(mFriends, &persons, true);
    mPersonCache = persons;
}

bool TwitterPlugin::friendsToPersons(const QVariantList &users, QList<SocialNetworkPerson> *persons, bool full)
{
    for (const QVariant &entry : users) {
        const QVariantMap user = entry.toMap();
        const QString id = text(user, QStringLiteral("id"));
        const QString screenName = Tw::Twitter::screenName(user);
        SocialNetworkPerson person;
        person.setProperty(SocialGenericData::Id, QString(accountId() + QLatin1Char(':') + screenName));
        if (full) {
            if (screenName.isEmpty())
                continue;
            const QString name = text(user, QStringLiteral("name"));
            person.setProperty(SocialNetworkPerson::FirstName, name.isEmpty() ? screenName : name);
            person.setProperty(QStringLiteral("ScreenName"), QStringLiteral("@%1").arg(screenName));
            person.setProperty(SocialServiceAccount::SocialServiceId, ProviderName);
            const QString url = text(user, QStringLiteral("url"));
            if (!url.isEmpty())
                person.setProperty(SocialNetworkPerson::Websites, QStringList{url});
            for (const QString &key : {QStringLiteral("description"), QStringLiteral("location")}) {
                const QString value = text(user, key);
                if (!value.isEmpty())
                    person.setProperty(key.at(0).toUpper() + key.mid(1), value);
            }
            // What is not known is left out, not sent empty.
            const QString avatar = cachedAvatar(screenName);
            if (!avatar.isEmpty())
                person.setProperty(SocialNetworkPerson::AvatarList, QStringList{avatar});
            const QVariantMap status = cachedUserResources(UserType::UserShow, {{ScreenNameKey, screenName}})
                                           .value(0).toMap().value(QStringLiteral("status")).toMap();
            const QString statusText = text(status, QStringLiteral("text"));
            if (!statusText.isEmpty())
                person.setProperty(SocialNetworkPerson::Status, statusText);
            const QDateTime statusTime = Tw::Twitter::convertDateTime(text(status, QStringLiteral("created_at")), false);
            if (statusTime.isValid())
                person.setProperty(SocialNetworkPerson::StatusChangeTime, statusTime);
        }
        person.setProperty(SocialNetworkPerson::Relationship, id == mOwnUserId ? RELATIONSHIP_SELF : RELATIONSHIP_FRIEND);
        person.setParentAccount(accountId());
        persons->append(person);
    }
    return !persons->isEmpty();
}

void TwitterPlugin::onError(QString errorString)
{
    qDebug() << Q_FUNC_INFO << errorString;
}
