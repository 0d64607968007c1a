// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SocialProviderInterface.h"

#include <QSettings>
#include <QVariantList>

class SocialDataRequest;

namespace Tw {
class Twitter;
}

// The Twitter account and its friends as a social provider of the contacts daemon:
// the service and account records, the progress of a friends import, and persons
// answered from a cache of converted friends.
class TwitterPlugin : public SocialProviderInterface
{
    Q_OBJECT
    Q_INTERFACES(SocialProviderInterface)

public:
    // "twitter": the service's id, the start of its account ids, and the last part of the
    // runner's bus name and object path.
    static const QString ProviderName;
    // What metaData() answers, for the runner, which answers it also without a provider.
    static QVariantMap providerMetaData();

    explicit TwitterPlugin(Tw::Twitter *client);

    // The first four strings of a login: token, token secret, user id, screen name.
    // The tokens are not kept: the plugin only reads the client's cache, it asks nothing itself.
    void setAccountInfo(const QString &token, const QString &tokenSecret, const QString &userId,
                        const QString &screenName);
    // "twitter:<screen name>", of the own account without argument.
    QString accountId(const QString &screenName) const;
    QString accountId() const;
    SocialServiceAccount serviceAccount(const QString &screenName);

    bool onGetPersonRequest(SocialDataRequest *request);
    void sendAccountState();
    void accountRemoved();
    void accountDisabled();
    // Takes the friends from the client's cache; done says the import is complete,
    // report that its progress is to be announced.
    void updateData(bool done, bool report);
    // Appends a person per friend: id-only records, or full ones when full is set.
    bool friendsToPersons(const QVariantList &users, QList<SocialNetworkPerson> *persons, bool full);

public Q_SLOTS:
    void onAttached() override;
    QVariantMap metaData() override;
    void performRequest(SocialDataRequest *request) override;
    QList<SocialService> services() override;
    QList<SocialServiceAccount> accounts() override;
    void onError(QString errorString);

private:
    // Answers the client's cache lookup of user type: its result list, whatever the status.
    QVariantList cachedUserResources(int userType, const QMap<QString, QString> &parameters);
    QString cachedAvatar(const QString &screenName);
    void reportImport(bool importing, int count);

    QString mOwnUserId;
    QString mOwnScreenName;
    Tw::Twitter *mTwitterClient;
    QVariantList mFriends;
    int mAccountState;
    bool mImportDone;
    QSettings mSettings;
    QList<SocialNetworkPerson> mPersonCache;
};
