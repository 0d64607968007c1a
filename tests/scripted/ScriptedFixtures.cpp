// Makes twitter-ostra-scripted, the daemon linked with the client double, answer like the
// service would: the fixtures' home timeline, mentions and direct messages from the
// network, friends and avatars from the cache, thumbnails held already. Installed before
// main() runs.

#include "Fixtures.h"
#include "TwitterDouble.h"

#include <QDir>
#include <QImage>

namespace {

QString thumbnailFile()
{
    const QString folder = qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/scripted-client");
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/thumbnail.png");
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::darkYellow);
    image.save(path, "PNG");
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
