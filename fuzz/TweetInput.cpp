// SPDX-License-Identifier: BSD-3-Clause
#include "TweetInput.h"

#include <QVariantList>

namespace {

enum Flag { Retweet = 1, Utf16 = 2, DoublePositions = 4, TextPositions = 8 };

const int MaxUrls = 9;
const int MaxMedia = 5;

QVariant position(qint32 value, quint8 flags)
{
    if (flags & DoublePositions)
        return double(value);
    if (flags & TextPositions)
        return QString::number(value);
    return value;
}

}

namespace TweetInput {

Input read(FuzzSupport::Reader &reader)
{
    const quint8 flags = reader.byte();
    const bool utf16 = flags & Utf16;
    QVariantMap source;
    source.insert(QStringLiteral("text"), reader.text(utf16));

    QVariantList urls;
    const int urlCount = reader.byte() % MaxUrls;
    for (int i = 0; i < urlCount; ++i) {
        QVariantMap url;
        url.insert(QStringLiteral("url"), reader.text(utf16));
        url.insert(QStringLiteral("expanded_url"), reader.text(utf16));
        const qint32 start = reader.int32();
        const qint32 end = reader.int32();
        url.insert(QStringLiteral("indices"), QVariantList{position(start, flags), position(end, flags)});
        urls.append(url);
    }
    QVariantList media;
    const int mediaCount = reader.byte() % MaxMedia;
    for (int i = 0; i < mediaCount; ++i) {
        const QString id = reader.text(utf16);
        QVariantMap entry;
        entry.insert(QStringLiteral("id"), id);
        entry.insert(QStringLiteral("id_str"), id);
        entry.insert(QStringLiteral("media_url"), reader.text(utf16));
        media.append(entry);
    }
    QVariantMap entities;
    entities.insert(QStringLiteral("urls"), urls);
    if (!media.isEmpty())
        entities.insert(QStringLiteral("media"), media);
    source.insert(QStringLiteral("entities"), entities);

    Input input;
    if (flags & Retweet) {
        input.tweet.insert(QStringLiteral("text"), QStringLiteral("RT"));
        input.tweet.insert(QStringLiteral("retweeted_status"), source);
    } else {
        input.tweet = source;
    }
    input.avatar = reader.text(utf16);
    input.scanText = QString::fromUtf8(reader.rest());
    return input;
}

QByteArray write(const QVariantMap &tweet, const QString &avatar, bool utf16)
{
    const QVariant retweeted = tweet.value(QStringLiteral("retweeted_status"));
    const QVariantMap source = retweeted.isValid() ? retweeted.toMap() : tweet;
    const QVariantMap entities = source.value(QStringLiteral("entities")).toMap();
    const QVariantList urls = entities.value(QStringLiteral("urls")).toList().mid(0, MaxUrls - 1);
    const QVariantList media = entities.value(QStringLiteral("media")).toList().mid(0, MaxMedia - 1);

    FuzzSupport::Writer writer;
    writer.byte(quint8((retweeted.isValid() ? Retweet : 0) | (utf16 ? Utf16 : 0)));
    writer.text(source.value(QStringLiteral("text")).toString(), utf16);
    writer.byte(quint8(urls.size()));
    for (const QVariant &entry : urls) {
        const QVariantMap url = entry.toMap();
        const QVariantList indices = url.value(QStringLiteral("indices")).toList();
        writer.text(url.value(QStringLiteral("url")).toString(), utf16);
        writer.text(url.value(QStringLiteral("expanded_url")).toString(), utf16);
        writer.int32(indices.value(0).toInt());
        writer.int32(indices.value(1).toInt());
    }
    writer.byte(quint8(media.size()));
    for (const QVariant &entry : media) {
        const QVariantMap map = entry.toMap();
        writer.text(map.value(QStringLiteral("id_str")).toString(), utf16);
        writer.text(map.value(QStringLiteral("media_url")).toString(), utf16);
    }
    writer.text(avatar, utf16);
    return writer.data();
}

}
