// SPDX-License-Identifier: BSD-3-Clause
// Makes twitter-ostra-scripted, the daemon linked with the client double, answer like the
// service would: the fixtures' home timeline, mentions and direct messages from the
// network, friends and avatars from the cache, thumbnails held already. Installed before
// main() runs.

#include "Fixtures.h"
#include "TwitterDouble.h"

#include <QDir>
#include <QFile>

namespace {

QString thumbnailFile()
{
    const QString folder = qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/scripted-client");
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/thumbnail.png");
    // An 8 x 8 dark yellow PNG, written as bytes: QImage::save would load every image
    // plugin (QtSvg and QtWidgets among them) into the daemon whose memory is measured.
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QByteArray::fromHex("89504e470d0a1a0a0000000d49484452000000080000000808020000004b6d29dc00000011"
                                       "4944415478da63686860c08a1886960400223f4001645b792b0000000049454e44ae426082"));
    return path;
}

// Like the service: only what is newer than the request's "since_id".
TwitterDouble::Responder newerThanSinceId(const QVariantList &items)
{
    return [items](const TwitterDouble::Request &request) {
        const QString sinceId = request.args.value(QStringLiteral("since_id"));
        QVariantList newer;
        for (const QVariant &item : items) {
            if (Tw::Twitter::compareIds(item.toMap().value(QStringLiteral("id")).toString(), sinceId) > 0)
                newer.append(item);
        }
        return TwitterDouble::later(newer);
    };
}

bool installScript()
{
    TwitterDouble::setDefault(TwitterDouble::Timeline, TimelineType::HomeTimeline, TwitterDouble::later(Fixtures::homeTimeline()));
    TwitterDouble::setResponder(TwitterDouble::Timeline, TimelineType::MentionsTimeline,
                                newerThanSinceId(Fixtures::load(QStringLiteral("mentions_timeline.json")).toList()));
    TwitterDouble::setResponder(TwitterDouble::DirectMessages, DirectMessageType::ReceivedMessages,
                                newerThanSinceId(Fixtures::load(QStringLiteral("direct_messages.json")).toList()));

    TwitterDouble::setResponder(TwitterDouble::User, UserType::Avatar, [](const TwitterDouble::Request &request) {
        TwitterDouble::Answer avatar;
        avatar.cached = {QString(QStringLiteral("/avatars/") + request.args.value(QStringLiteral("screen_name"))
                                 + QStringLiteral(".png"))};
        return avatar;
    });
    TwitterDouble::Answer friends;
    for (const char *page : {"friends_list_page1.json", "friends_list_page2.json"})
        friends.cached += Fixtures::load(QLatin1String(page)).toMap().value(QStringLiteral("users")).toList();
    TwitterDouble::setDefault(TwitterDouble::User, UserType::FriendsList, friends);

    TwitterDouble::Answer thumbnail;
    thumbnail.cachedFile = thumbnailFile();
    TwitterDouble::setDefault(TwitterDouble::TinyUrlImage, 0, thumbnail);
    return true;
}

const bool installed = installScript();

}
