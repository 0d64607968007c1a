// SPDX-License-Identifier: BSD-3-Clause
#pragma once

// Names shared by the daemon's source files; the settings' organisation is in
// PlatformSettings.h, shared with the social provider.

#include "PlatformSettings.h"

#include <QString>

namespace TwitterOstra {

const QString ApplicationName = QStringLiteral("Twitter");
const QString FirstStartKey = QStringLiteral("FirstStart");
const QString LastIdMessagesKey = QStringLiteral("LastIdMessages");
const QString LastIdMentionsKey = QStringLiteral("LastIdMentions");

// Shown for people whose avatar could not be had.
const QString DefaultAvatar = QStringLiteral("/usr/share/twitter/default-avatar.png");

// Notification event types of direct messages and mentions.
const QString MessageEventType = QStringLiteral("messages.service.twitter");
const QString MentionEventType = QStringLiteral("mentions.service.twitter");

// A poll asks for the service's default page; a full one may have more behind it, which
// is paged back in pages of the service's largest size, up to a bound.
const int PollPageSize = 20;
const int OlderPollPageSize = 200;
const int MaxPollPages = 10;

}
