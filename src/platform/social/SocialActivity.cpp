// SPDX-License-Identifier: BSD-3-Clause
#include "SocialActivity.h"

const QString SocialActivity::ClassName = QStringLiteral("SocialActivity");

SocialActivity::SocialActivity()
    : SocialGenericData(ClassName)
{
}

SocialActivity::SocialActivity(const SocialGenericData &data)
    : SocialGenericData(data)
{
}
