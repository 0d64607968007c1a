// SPDX-License-Identifier: BSD-3-Clause
// The login check of the test double: the credentials of the account file are accepted
// without a network, from the event loop as a real check would answer.

#include "TwLoginCheck.h"

void TwLoginCheck::start()
{
    QMetaObject::invokeMethod(
        this,
        [this] { emit accepted(mToken, mTokenSecret, mUserId, mScreenName, mConsumerKey, mConsumerSecret); },
        Qt::QueuedConnection);
}
