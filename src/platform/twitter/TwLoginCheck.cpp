// SPDX-License-Identifier: BSD-3-Clause
// What every login check holds: the credentials it was given. How it checks them
// (start()) belongs to the implementation a program links.

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
