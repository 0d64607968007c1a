// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SocialGenericData.h"

#include <QList>

// An activity (a post, a status change) of a social network.
class SocialActivity : public SocialGenericData
{
public:
    static const QString ClassName;

    SocialActivity();
    // A decoded record of this class.
    explicit SocialActivity(const SocialGenericData &data);
};

Q_DECLARE_METATYPE(SocialActivity)
Q_DECLARE_METATYPE(QList<SocialActivity>)
