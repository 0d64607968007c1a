// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QString>

// Value types of the Twitter client library. Each enumeration lives in a namespace of
// its own name, so that signals read e.g. TimelineType::TimelineType.

namespace TwServiceType {
Q_NAMESPACE
enum Servicetype {
    SERVICE_ACCOUNT = 0,
    SERVICE_CONTACTS = 1,
    SERVICE_EVENT_FEED = 2,
    SERVICE_NOTIFICATIONS = 3
};
Q_ENUM_NS(Servicetype)
}

namespace TwLoginError {
Q_NAMESPACE
enum TwLoginError {
    LOGIN_ERROR_GENERIC = 0,
    LOGIN_ERROR_NETWORK = 1,
    LOGIN_ERROR_SSL = 2,
    LOGIN_ERROR_SERVER = 3,
    LOGIN_ERROR_BUSY = 4,
    LOGIN_ERROR_CREDENTIALS = 5,
    LOGIN_ERROR_RATE_LIMITED = 6,
    LOGIN_ERROR_SUSPENDED = 7,
    LOGIN_ERROR_USER = 8,
    LOGIN_ERROR_UNAUTHORIZED = 9,
    LOGIN_ERROR_ACCOUNT_UNUSABLE = 16
};
Q_ENUM_NS(TwLoginError)
}

namespace TimelineType {
Q_NAMESPACE
enum TimelineType {
    PublicTimeline = 0,
    HomeTimeline = 1,
    FriendsTimeline = 2,
    UserTimeline = 3,
    MentionsTimeline = 4
};
Q_ENUM_NS(TimelineType)
}

namespace DirectMessageType {
Q_NAMESPACE
enum DirectMessageType {
    ReceivedMessages = 0,
    SentMessages = 1
};
Q_ENUM_NS(DirectMessageType)
}

namespace HelpType {
Q_NAMESPACE
enum HelpType {
    Configuration = 0,
    Languages = 1
};
Q_ENUM_NS(HelpType)
}

namespace UserType {
Q_NAMESPACE
enum UserType {
    UserShow = 0,
    UserLookup = 1,
    FollowersList = 2,
    FollowersIds = 3,
    FriendsIds = 4,
    ProfileImage = 5,
    Avatar = 6,
    FriendsList = 7
};
Q_ENUM_NS(UserType)
}

namespace Tw {
// Makes the library's value types usable in queued signal connections; idempotent.
void registerMetaTypes();
}
