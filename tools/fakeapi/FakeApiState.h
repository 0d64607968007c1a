// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QCborArray>
#include <QCborMap>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrlQuery>

// What the fake service knows: the home timeline, mentions, direct messages, the
// account's friends in pages, the users, the account and the configuration. It starts
// from the fixtures and changes through the control API; each list is bounded.
class FakeApiState
{
public:
    // Back to the fixtures of this folder; false and *error set when one is unreadable.
    bool load(const QString &fixturesDir, QString *error);

    // Newest first, honouring count, since_id and max_id as the service does.
    QCborArray homeTimeline(const QUrlQuery &query) const;
    QCborArray mentions(const QUrlQuery &query) const;
    QCborArray directMessages(const QUrlQuery &query) const;
    // The page that this cursor ("-1": the first) names; false when none does. A faulty
    // service's cursors may go on past the last page (see setFriends).
    bool friendsPage(const QString &cursor, QCborMap *page) const;
    // Empty when no user has this screen name.
    QCborMap user(const QString &screenName) const;
    QCborMap account() const { return mAccount; }
    QCborMap configuration() const { return mConfiguration; }

    // Each of these takes a description (see the README) and gives the new item's
    // id_str, or an empty text and *error set.
    QString addTweet(const QCborMap &description, QString *error);
    QString addMention(const QCborMap &description, QString *error);
    QString addMessage(const QCborMap &description, QString *error);
    // Removes the tweet from the home timeline and the mentions; false when unknown.
    bool deleteTweet(const QString &id);
    // Replaces the friends: users are objects or screen names; the reason when refused.
    // cursors is how the last page's next cursor reads: "end" ("0", as the service's),
    // "endless" (a new cursor each time, whose page repeats the last one's users) or
    // "cycle" (the cursor of the page before, so that the paging goes round).
    QString setFriends(const QCborArray &users, int pageSize, const QString &cursors = QStringLiteral("end"));

    QCborMap summary() const;
    // A service that answers as if since_id had not been given, as the real one may.
    void setIgnoreSinceId(bool ignore) { mIgnoreSinceId = ignore; }

private:
    QCborMap status(const QCborMap &description, QString *error);
    QCborMap userFor(const QString &screenName, const QString &name);
    void rememberUser(const QCborMap &user);
    void rememberUsersOf(const QCborArray &items, const QString &userKey);
    QString nextId();

    QCborArray mHome;
    QCborArray mMentions;
    QCborArray mMessages;
    QList<QCborArray> mFriendPages;
    QStringList mFriendCursors; // the cursor that asks for each page
    QString mFriendsEnd; // the last page's next cursor: "end", "endless" or "cycle"
    QMap<QString, QCborMap> mUsers; // by screen name in lower case
    QCborMap mAccount;
    QCborMap mConfiguration;
    qint64 mLastId = 0;
    bool mIgnoreSinceId = false;
};
