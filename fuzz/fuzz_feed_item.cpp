// SPDX-License-Identifier: BSD-3-Clause
// The event feed item composed of any tweet the service might send: its dates, names,
// text, retweet and id, with the author's avatar and the tweet's pictures as the
// timeline passes them. Its title, body and footer hold no markup of the service's.

#include "FeedItem.h"
#include "FuzzSupport.h"
#include "TwJson.h"

#include <cstdlib>

namespace {

// A timeline page holds 20 tweets; more only costs time.
const int MaxTweets = 32;

void compose(const QVariantMap &tweet)
{
    const QVariantMap user = tweet.value(QStringLiteral("user")).toMap();
    const QString avatar = user.value(QStringLiteral("profile_image_url")).toString();
    QStringList images;
    const QVariantList media =
        tweet.value(QStringLiteral("entities")).toMap().value(QStringLiteral("media")).toList();
    for (const QVariant &entry : media)
        images.append(entry.toMap().value(QStringLiteral("media_url")).toString());
    const QVariantMap item = EventFeed::homeViewItem(tweet, avatar, images);
    for (const char *key : {"title", "body", "footer"}) {
        if (!FuzzSupport::onlyOwnMarkup(item.value(QLatin1String(key)).toString()))
            abort();
    }
}

}

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    FuzzSupport::start((*argv)[0]);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    QString error;
    const QVariant body = TwJson::parse(text, &error);
    if (body.type() == QVariant::Map) {
        compose(body.toMap());
        return 0;
    }
    const QVariantList tweets = body.toList().mid(0, MaxTweets);
    for (const QVariant &tweet : tweets)
        compose(tweet.toMap());
    return 0;
}
