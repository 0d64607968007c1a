// SPDX-License-Identifier: BSD-3-Clause
#include "SocialService.h"

const QString SocialService::ClassName = QStringLiteral("SocialService");
const QString SocialService::ProviderName = QStringLiteral("ProviderName");
const QString SocialService::Website = QStringLiteral("Website");
const QString SocialService::Icon = QStringLiteral("Icon");
const QString SocialService::SocialActions = QStringLiteral("SocialActions");

SocialService::SocialService()
    : SocialGenericData(ClassName)
{
}

SocialService::SocialService(const SocialGenericData &data)
    : SocialGenericData(data)
{
}
