// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SocialGenericData.h"

#include <QList>

// A social service that a provider offers.
class SocialService : public SocialGenericData
{
public:
    static const QString ClassName;
    static const QString ProviderName;
    static const QString Website;
    static const QString Icon;
    static const QString SocialActions;

    SocialService();
    // A decoded record of this class.
    explicit SocialService(const SocialGenericData &data);
};

Q_DECLARE_METATYPE(SocialService)
Q_DECLARE_METATYPE(QList<SocialService>)
