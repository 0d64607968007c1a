// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "TwTypes.h"

#include <QObject>
#include <QString>

// Checks an account's credentials with the service before the account logs in. It is
// implemented by the client library a program links: the real one asks the service
// (account/verify_credentials.json); the test double accepts at once.
class TwLoginCheck : public QObject
{
    Q_OBJECT

public:
    TwLoginCheck(const QString &apiBase, const QString &token, const QString &tokenSecret,
                 const QString &userId, const QString &screenName, const QString &consumerKey,
                 const QString &consumerSecret, QObject *parent = nullptr);

    // Answers once, later, by accepted or refused.
    void start();

Q_SIGNALS:
    void accepted(const QString &token, const QString &tokenSecret, const QString &userId,
                  const QString &screenName, const QString &consumerKey, const QString &consumerSecret);
    void refused(TwLoginError::TwLoginError type, const QString &text);

private:
    const QString mApiBase;
    const QString mToken;
    const QString mTokenSecret;
    const QString mUserId;
    const QString mScreenName;
    const QString mConsumerKey;
    const QString mConsumerSecret;
};
