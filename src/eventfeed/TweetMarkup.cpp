// SPDX-License-Identifier: BSD-3-Clause
// Tweet text markup: URL entities as anchors, and the pictures a tweet links to.

#include "TweetMarkup.h"

#include "Twitter.h"

#include <QDebug>
#include <QMap>

namespace {

// Characters that would end the anchor early are percent-encoded: the markup is made
// from the service's data, and a link stays a valid URL that way.
QString anchorSafe(QString text)
{
    text.replace(QLatin1Char('"'), QLatin1String("%22"));
    text.replace(QLatin1Char('<'), QLatin1String("%3C"));
    text.replace(QLatin1Char('>'), QLatin1String("%3E"));
    return text;
}

// Appends each anchor text that starts with marker (after its '>') and that the client
// can make a thumbnail of, prefixed, unless already listed.
void scanAnchors(const QString &text, const QString &marker, const QString &prefix, QStringList *links)
{
    int from = 0;
    while (true) {
        const int start = text.indexOf(marker, from);
        if (start < 0)
            return;
        int end = text.indexOf(QLatin1Char('<'), start);
        if (end < 0)
            end = text.size();
        const QString candidate = prefix + text.mid(start + 1, end - start - 1);
        if (Tw::Twitter::imageTypeSupported(candidate) && !links->contains(candidate))
            links->append(candidate);
        if (end >= text.size())
            return;
        from = end;
    }
}

}

namespace EventFeed {

QString markUpLinks(const QString &text, const QVariantList &urls)
{
    struct Link
    {
        QString url;
        QString anchorText;
    };
    QMap<int, Link> byStart; // a later entity at the same start replaces an earlier one
    for (const QVariant &entity : urls) {
        const QVariantMap map = entity.toMap();
        const QString url = map.value(QStringLiteral("url")).toString();
        const QString expanded = map.value(QStringLiteral("expanded_url")).toString();
        const int start = map.value(QStringLiteral("indices")).toList().value(0).toInt();
        byStart.insert(start, {url, expanded.isEmpty() ? url : expanded});
    }

    // From the last to the first, so that earlier positions stay valid. Positions come
    // from the network: an entity outside the text or over the next one is skipped.
    QString marked = text;
    int limit = text.size();
    for (auto it = byStart.cend(); it != byStart.cbegin();) {
        --it;
        const int start = it.key();
        const int length = it.value().url.size();
        if (start < 0 || length > limit - start) {
            qWarning() << Q_FUNC_INFO << "skipping a URL entity outside the text or overlapping another:"
                       << start << it.value().url;
            continue;
        }
        marked.replace(start, length,
                       QLatin1String("<a href=\"") + anchorSafe(it.value().url) + QLatin1String("\">")
                           + anchorSafe(it.value().anchorText) + QLatin1String("</a>"));
        limit = start;
    }
    return marked;
}

QStringList extractImageLinks(const QString &markedUpText)
{
    QStringList links;
    scanAnchors(markedUpText, QStringLiteral(">http:"), QString(), &links);
    for (const QString &host : Tw::Twitter::pictureHosts()) {
        scanAnchors(markedUpText, QLatin1Char('>') + host, QStringLiteral("http://"), &links);
        scanAnchors(markedUpText, QLatin1String(">www.") + host, QStringLiteral("http://"), &links);
    }
    return links;
}

QList<Picture> tweetPictures(const QVariantMap &tweet)
{
    const QVariant retweeted = tweet.value(QStringLiteral("retweeted_status"));
    const QVariantMap source = retweeted.isValid() ? retweeted.toMap() : tweet;
    const QVariantMap entities = source.value(QStringLiteral("entities")).toMap();

    QList<Picture> pictures;
    for (const QVariant &media : entities.value(QStringLiteral("media")).toList()) {
        const QVariantMap map = media.toMap();
        pictures.append({map.value(QStringLiteral("id")).toString(),
                         map.value(QStringLiteral("media_url")).toString() + QLatin1String(":thumb")});
    }
    const QString markedUp = markUpLinks(source.value(QStringLiteral("text")).toString(),
                                         entities.value(QStringLiteral("urls")).toList());
    for (const QString &link : extractImageLinks(markedUp))
        pictures.append({QString(), link});
    return pictures;
}

}
