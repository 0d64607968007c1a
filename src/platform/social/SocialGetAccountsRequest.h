// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SocialDataRequest.h"
#include "SocialServiceAccount.h"

// Which accounts a provider holds.
class SocialGetAccountsRequest : public SocialDataRequest
{
    Q_OBJECT

public:
    explicit SocialGetAccountsRequest(QObject *parent = nullptr);

    QList<SocialServiceAccount> accounts() const { return mAccounts; }
    void setAccounts(const QList<SocialServiceAccount> &accounts);

protected:
    void writeResult(QDataStream &stream) const override;
    bool readResult(QDataStream &stream) override;

private:
    QList<SocialServiceAccount> mAccounts;
};
