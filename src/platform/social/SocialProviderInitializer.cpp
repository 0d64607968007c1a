// SPDX-License-Identifier: BSD-3-Clause
#include "SocialProviderInitializer.h"

#include "SocialActivity.h"
#include "SocialGenericData.h"
#include "SocialImportProgress.h"
#include "SocialNetworkPerson.h"
#include "SocialProviderError.h"
#include "SocialProviderTimeline.h"

void SocialProviderInitializer::init()
{
    qRegisterMetaType<SocialImportProgress>("SocialImportProgress");
    qRegisterMetaTypeStreamOperators<SocialImportProgress>("SocialImportProgress");
    qRegisterMetaType<SocialGenericData>();
    qRegisterMetaType<QList<SocialGenericData>>("QList<SocialGenericData>");
    qRegisterMetaType<QList<SocialNetworkPerson>>("QList<SocialNetworkPerson>");
    qRegisterMetaType<QList<SocialActivity>>("QList<SocialActivity>");
    qRegisterMetaType<QList<SocialProviderError>>("QList<SocialProviderError>");
    qRegisterMetaType<QList<QString>>("QList<QString>");
    qRegisterMetaType<SocialProviderTimeline::TimelineType>("SocialProviderTimeline::TimelineType");
}
