// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SocialGenericData.h"

#include <QList>

// A person of a social network, as the contacts daemon keeps them.
class SocialNetworkPerson : public SocialGenericData
{
public:
    static const QString ClassName;
    static const QString FirstName;
    static const QString AvatarList;
    static const QString Websites;
    static const QString Status;
    static const QString StatusChangeTime;
    static const QString Relationship;

    SocialNetworkPerson();
    // A decoded record of this class.
    explicit SocialNetworkPerson(const SocialGenericData &data);
};

Q_DECLARE_METATYPE(SocialNetworkPerson)
Q_DECLARE_METATYPE(QList<SocialNetworkPerson>)
