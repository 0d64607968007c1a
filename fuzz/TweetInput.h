// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "FuzzSupport.h"

#include <QVariantMap>

// The markup target's input: a tweet's text, its URL entities (with positions of any
// value and number type) and media entries, optionally as the retweeted status of
// another tweet; then the avatar, and text for the link scan alone.
//
//   flags       byte: 1 retweet, 2 strings as UTF-16, 4 positions as doubles (as JSON
//               gives them), 8 positions as strings
//   text        string
//   url count   byte (modulo 9), each: url, expanded_url (strings), start, end (int32)
//   media count byte (modulo 5), each: id, media_url (strings)
//   avatar      string
//   rest        text given to the link scan as it is (UTF-8)
namespace TweetInput {

struct Input
{
    QVariantMap tweet;
    QString avatar;
    QString scanText;
};

Input read(FuzzSupport::Reader &reader);
// The layout of a tweet as the service sends it (its entities' url and media lists).
QByteArray write(const QVariantMap &tweet, const QString &avatar, bool utf16);

}
