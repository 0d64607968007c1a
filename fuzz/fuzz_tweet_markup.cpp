// SPDX-License-Identifier: BSD-3-Clause
// A tweet's text marked up with its URL entities at whatever positions the service
// claims, and the picture links found in the markup; then the link scan on any text.
// The daemon has no client (it is not initialised), so processTweetImages stops after
// the scan. Whatever the service sends, the markup holds no tag but the daemon's own
// anchors, and escaping escaped text changes nothing.

#include "FuzzSupport.h"
#include "TweetInput.h"
#include "TweetMarkup.h"
#include "TwitterDaemon.h"

#include <cstdlib>

namespace {

TwitterDaemon *daemon = nullptr;

}

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    FuzzSupport::start((*argv)[0]);
    daemon = new TwitterDaemon(false, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSupport::Reader reader(data, size);
    const TweetInput::Input input = TweetInput::read(reader);
    // Without a client nothing can wait for thumbnails.
    if (daemon->processTweetImages(input.tweet, input.avatar))
        abort();
    EventFeed::extractImageLinks(input.scanText);

    const QVariant retweeted = input.tweet.value(QStringLiteral("retweeted_status"));
    const QVariantMap source = retweeted.isValid() ? retweeted.toMap() : input.tweet;
    const QString text = source.value(QStringLiteral("text")).toString();
    const QString markup = EventFeed::markUpLinks(
        text, source.value(QStringLiteral("entities")).toMap().value(QStringLiteral("urls")).toList());
    const QString escaped = EventFeed::escapedText(text);
    if (!FuzzSupport::onlyOwnMarkup(markup) || !FuzzSupport::onlyOwnMarkup(escaped)
        || EventFeed::escapedText(escaped) != escaped)
        abort();
    return 0;
}
