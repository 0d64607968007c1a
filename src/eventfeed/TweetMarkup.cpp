// SPDX-License-Identifier: BSD-3-Clause
// Tweet text markup: URL entities as anchors, and the pictures a tweet links to.

#include "TweetMarkup.h"

#include "Twitter.h"

#include <QDebug>
#include <QMap>

#include <algorithm>

namespace {

// The longest numeric entities kept: every code point fits, and a renderer's reading of
// the number cannot overflow.
const int MaxDecimalDigits = 7;
const int MaxHexDigits = 6;

// The length of the entity that starts at from (an '&'), or 0 when it is none of those
// the service sends.
int entityLength(const QString &text, int from)
{
    static const QLatin1String named[] = {QLatin1String("&lt;"), QLatin1String("&gt;"), QLatin1String("&amp;"),
                                          QLatin1String("&quot;")};
    const QStringView rest = QStringView(text).mid(from);
    for (const QLatin1String &entity : named) {
        if (rest.startsWith(entity))
            return entity.size();
    }
    if (rest.size() < 2 || rest.at(1) != QLatin1Char('#'))
        return 0;
    const bool hex = rest.size() > 2 && (rest.at(2) == QLatin1Char('x') || rest.at(2) == QLatin1Char('X'));
    const int digitsFrom = hex ? 3 : 2;
    int end = digitsFrom;
    while (end < rest.size() && end - digitsFrom < (hex ? MaxHexDigits : MaxDecimalDigits)) {
        const QChar c = rest.at(end);
        const bool digit = (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            || (hex && ((c >= QLatin1Char('a') && c <= QLatin1Char('f')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))));
        if (!digit)
            break;
        ++end;
    }
    return end > digitsFrom && end < rest.size() && rest.at(end) == QLatin1Char(';') ? end + 1 : 0;
}

bool isWebAddress(const QString &address)
{
    return address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

// Whether the address names a scheme of its own other than http or https (javascript:,
// data:, file:); an expanded URL may also come as a bare host and path.
bool hasOtherScheme(const QString &address)
{
    const auto isAsciiLetter = [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
    };
    int end = 0;
    while (end < address.size()) {
        const QChar c = address.at(end);
        if (!isAsciiLetter(c) && (end == 0 || !((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+')
                                                || c == QLatin1Char('-') || c == QLatin1Char('.'))))
            break;
        ++end;
    }
    return end > 0 && end < address.size() && address.at(end) == QLatin1Char(':') && !isWebAddress(address);
}

// An entity's address in the markup. The service sends addresses as they are, not
// escaped: characters that would end the anchor early are percent-encoded, so that a
// link stays a valid URL, and every '&' is escaped, so that the scan reads the address
// back exactly.
QString anchorSafe(QString address)
{
    address.replace(QLatin1Char('"'), QLatin1String("%22"));
    address.replace(QLatin1Char('<'), QLatin1String("%3C"));
    address.replace(QLatin1Char('>'), QLatin1String("%3E"));
    address.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    return address;
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
        QString candidate = prefix + text.mid(start + 1, end - start - 1);
        candidate.replace(QLatin1String("&amp;"), QLatin1String("&"));
        if (Tw::Twitter::imageTypeSupported(candidate) && !links->contains(candidate))
            links->append(candidate);
        if (end >= text.size())
            return;
        from = end;
    }
}

}

namespace EventFeed {

QString escapedText(const QString &serviceText)
{
    const auto special = [](QChar c) {
        return c == QLatin1Char('<') || c == QLatin1Char('>') || c == QLatin1Char('"') || c == QLatin1Char('&');
    };
    if (std::none_of(serviceText.cbegin(), serviceText.cend(), special))
        return serviceText;
    QString escaped;
    escaped.reserve(serviceText.size() + 16);
    for (int i = 0; i < serviceText.size(); ++i) {
        const QChar c = serviceText.at(i);
        if (c == QLatin1Char('<')) {
            escaped += QLatin1String("&lt;");
        } else if (c == QLatin1Char('>')) {
            escaped += QLatin1String("&gt;");
        } else if (c == QLatin1Char('"')) {
            escaped += QLatin1String("&quot;");
        } else if (c == QLatin1Char('&')) {
            const int length = entityLength(serviceText, i);
            if (length == 0) {
                escaped += QLatin1String("&amp;");
            } else {
                escaped += serviceText.midRef(i, length);
                i += length - 1;
            }
        } else {
            escaped += c;
        }
    }
    return escaped;
}

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
    struct Anchor
    {
        int length;
        QString markup;
    };
    QMap<int, Anchor> anchors;
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
        if (!isWebAddress(it.value().url) || hasOtherScheme(it.value().anchorText)) {
            qWarning() << Q_FUNC_INFO << "a URL entity that is not an http or https address stays text:"
                       << it.value().url << it.value().anchorText;
            continue;
        }
        anchors.insert(start, {length, QLatin1String("<a href=\"") + anchorSafe(it.value().url) + QLatin1String("\">")
                                           + anchorSafe(it.value().anchorText) + QLatin1String("</a>")});
        limit = start;
    }

    // The text around the anchors is escaped piece by piece: the positions are the
    // service's text's own.
    QString marked;
    int from = 0;
    for (auto it = anchors.cbegin(); it != anchors.cend(); ++it) {
        marked += escapedText(text.mid(from, it.key() - from)) + it.value().markup;
        from = it.key() + it.value().length;
    }
    return marked + escapedText(text.mid(from));
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

QString pictureAddress(const QVariantMap &map, const QString &key)
{
    const QString secure = map.value(key + QLatin1String("_https")).toString();
    return secure.isEmpty() ? map.value(key).toString() : secure;
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
                         pictureAddress(map, QStringLiteral("media_url")) + QLatin1String(":thumb")});
    }
    const QString markedUp = markUpLinks(source.value(QStringLiteral("text")).toString(),
                                         entities.value(QStringLiteral("urls")).toList());
    for (const QString &link : extractImageLinks(markedUp))
        pictures.append({QString(), link});
    return pictures;
}

}
