// SPDX-License-Identifier: BSD-3-Clause
#include "SocialGetAccountsRequest.h"

SocialGetAccountsRequest::SocialGetAccountsRequest(QObject *parent)
    : SocialDataRequest(Accounts, parent)
{
}

void SocialGetAccountsRequest::setAccounts(const QList<SocialServiceAccount> &accounts)
{
    mAccounts = accounts;
}

void SocialGetAccountsRequest::writeResult(QDataStream &stream) const
{
    writeRecords(stream, mAccounts);
}

bool SocialGetAccountsRequest::readResult(QDataStream &stream)
{
    return readRecords(stream, mAccounts);
}
