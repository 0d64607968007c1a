// SPDX-License-Identifier: BSD-3-Clause
#include "SocialServiceAccount.h"

const QString SocialServiceAccount::ClassName = QStringLiteral("SocialServiceAccount");
const QString SocialServiceAccount::AccountName = QStringLiteral("AccountName");
const QString SocialServiceAccount::UserName = QStringLiteral("UserName");
const QString SocialServiceAccount::State = QStringLiteral("State");
const QString SocialServiceAccount::Avatar = QStringLiteral("Avatar");
const QString SocialServiceAccount::ProfileId = QStringLiteral("ProfileId");
const QString SocialServiceAccount::SocialServiceId = QStringLiteral("SocialServiceId");
const QString SocialServiceAccount::ImportProgress = QStringLiteral("ImportProgress");

SocialServiceAccount::SocialServiceAccount()
    : SocialGenericData(ClassName)
{
}

SocialServiceAccount::SocialServiceAccount(const SocialGenericData &data)
    : SocialGenericData(data)
{
}
