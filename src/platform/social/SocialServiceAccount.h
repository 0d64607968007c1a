// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SocialGenericData.h"

#include <QList>

// An account of a social service, with the state of its contacts import.
class SocialServiceAccount : public SocialGenericData
{
public:
    static const QString ClassName;
    static const QString AccountName;
    static const QString UserName;
    static const QString State;
    static const QString Avatar;
    static const QString ProfileId;
    static const QString SocialServiceId;
    static const QString ImportProgress;

    SocialServiceAccount();
    // A decoded record of this class.
    explicit SocialServiceAccount(const SocialGenericData &data);
};

Q_DECLARE_METATYPE(SocialServiceAccount)
Q_DECLARE_METATYPE(QList<SocialServiceAccount>)
