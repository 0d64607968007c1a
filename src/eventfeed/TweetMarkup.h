// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace EventFeed {

// A picture of a tweet to be shown as a thumbnail.
struct Picture
{
    QString mediaId; // empty for a link found in the text
    QString url;
};

// The address of a picture the service gives under key (e.g. "media_url"): its https
// form (key + "_https") when there is one, else the plain one.
QString pictureAddress(const QVariantMap &map, const QString &key);

// The service's text as markup: its entities (&lt; &gt; &amp; &quot; and numeric ones)
// kept, and every other <, >, " or & escaped, so that no text it sends becomes a tag.
QString escapedText(const QString &serviceText);
// The escaped text with every URL entity of an http or https address turned into an
// anchor whose text is the expanded URL, so that the links can be found by their visible
// text.
QString markUpLinks(const QString &text, const QVariantList &urls);
// Links to pictures among the anchors of a marked-up tweet text, each once.
QStringList extractImageLinks(const QString &markedUpText);
// The attached photos (as their thumbnail size) and the picture links of a tweet, or of
// the retweeted tweet for a retweet.
QList<Picture> tweetPictures(const QVariantMap &tweet);

}
