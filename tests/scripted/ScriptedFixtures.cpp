// Makes twitter-ostra-scripted, the daemon linked with the client double, answer like the
// service would: the fixtures' home timeline, mentions and direct messages from the
// network, avatars from the cache, thumbnails held already. Installed before main() runs.

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

bool installScript()
{
    TwitterDouble::Answer timeline;
    timeline.later = TwitterDouble::Answer::Result;
    timeline.laterData = Fixtures::homeTimeline();
    TwitterDouble::setDefault(TwitterDouble::Timeline, TimelineType::HomeTimeline, timeline);
    TwitterDouble::Answer mentions;
    mentions.later = TwitterDouble::Answer::Result;
    mentions.laterData = Fixtures::load(QStringLiteral("mentions_timeline.json")).toList();
    TwitterDouble::setDefault(TwitterDouble::Timeline, TimelineType::MentionsTimeline, mentions);
    TwitterDouble::Answer messages;
    messages.later = TwitterDouble::Answer::Result;
    messages.laterData = Fixtures::load(QStringLiteral("direct_messages.json")).toList();
    TwitterDouble::setDefault(TwitterDouble::DirectMessages, DirectMessageType::ReceivedMessages, messages);

    TwitterDouble::setResponder(TwitterDouble::User, UserType::Avatar, [](const TwitterDouble::Request &request) {
        TwitterDouble::Answer avatar;
        avatar.cached = {QString(QStringLiteral("/avatars/") + request.args.value(QStringLiteral("screen_name"))
                                 + QStringLiteral(".png"))};
        return avatar;
    });
    TwitterDouble::Answer thumbnail;
    thumbnail.cachedFile = thumbnailFile();
    TwitterDouble::setDefault(TwitterDouble::TinyUrlImage, 0, thumbnail);
    return true;
}

const bool installed = installScript();

}
