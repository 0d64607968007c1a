// SPDX-License-Identifier: BSD-3-Clause
// The login check of the test double: the credentials of the account file are accepted
// without a network, from the event loop as a real check would answer.

#include "TwLoginCheck.h"

TwLoginCheck::TwLoginCheck(const QString &apiBase, const QString &token, const QString &tokenSecret,
                           const QString &userId, const QString &screenName, const QString &consumerKey,
                           const QString &consumerSecret, QObject *parent)
    : QObject(parent)
    , mApiBase(apiBase)
    , mToken(token)
    , mTokenSecret(tokenSecret)
    , mUserId(userId)
    , mScreenName(screenName)
    , mConsumerKey(consumerKey)
    , mConsumerSecret(consumerSecret)
{
}

void TwLoginCheck::start()
{
    QMetaObject::invokeMethod(
        this,
        [this] { emit accepted(mToken, mTokenSecret, mUserId, mScreenName, mConsumerKey, mConsumerSecret); },
        Qt::QueuedConnection);
}
