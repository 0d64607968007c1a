// SPDX-License-Identifier: BSD-3-Clause
#include "TwTypes.h"

#include <QVariantList>
#include <QVariantMap>

namespace Tw {

void registerMetaTypes()
{
    qRegisterMetaType<TwServiceType::Servicetype>("TwServiceType::Servicetype");
    qRegisterMetaType<TwLoginError::TwLoginError>("TwLoginError::TwLoginError");
    qRegisterMetaType<TimelineType::TimelineType>("TimelineType::TimelineType");
    qRegisterMetaType<DirectMessageType::DirectMessageType>("DirectMessageType::DirectMessageType");
    qRegisterMetaType<HelpType::HelpType>("HelpType::HelpType");
    qRegisterMetaType<UserType::UserType>("UserType::UserType");
    qRegisterMetaType<QMap<QString, QString>>("QMap<QString,QString>");
}

}
