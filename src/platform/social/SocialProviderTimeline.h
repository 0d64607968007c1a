// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QObject>

namespace SocialProviderTimeline {
Q_NAMESPACE
// Which timeline of the network an activity update belongs to.
enum TimelineType {
    Own = 0,
    Friends = 1,
    Public = 2
};
Q_ENUM_NS(TimelineType)
}
