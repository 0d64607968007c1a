// SPDX-License-Identifier: BSD-3-Clause
#include "SocialNetworkPerson.h"

const QString SocialNetworkPerson::ClassName = QStringLiteral("SocialNetworkPerson");
const QString SocialNetworkPerson::FirstName = QStringLiteral("FirstName");
const QString SocialNetworkPerson::AvatarList = QStringLiteral("AvatarList");
const QString SocialNetworkPerson::Websites = QStringLiteral("Websites");
const QString SocialNetworkPerson::Status = QStringLiteral("Status");
const QString SocialNetworkPerson::StatusChangeTime = QStringLiteral("StatusChangeTime");
const QString SocialNetworkPerson::Relationship = QStringLiteral("Relationship");

SocialNetworkPerson::SocialNetworkPerson()
    : SocialGenericData(ClassName)
{
}

SocialNetworkPerson::SocialNetworkPerson(const SocialGenericData &data)
    : SocialGenericData(data)
{
}
