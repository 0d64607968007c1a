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
// account's friends, the users, the account and the configuration. It starts
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
    // The friends' page that the query's cursor ("-1": the first) names, of the query's
    // count of users (see setFriends for the cap); false when the cursor names none. A
    // cursor is an offset into the friends; a faulty service's may go on past the last.
    bool friendsPage(const QUrlQuery &query, QCborMap *page) const;
    // Empty when no user has this screen name.
    QCborMap user(const QString &screenName) const;
    QCborMap account() const { return mAccount; }
    QCborMap configuration() const { return mConfiguration; }

    // Each of these takes a description (see docs/test-kit.md) and gives the new item's
    // id_str, or an empty text and *error set.
    QString addTweet(const QCborMap &description, QString *error);
    QString addMention(const QCborMap &description, QString *error);
    QString addMessage(const QCborMap &description, QString *error);
    // Removes the tweet from the home timeline and the mentions; false when unknown.
    bool deleteTweet(const QString &id);

    struct Friends
    {
        QCborArray users;     // user objects or screen names
        qint64 generate = 0;  // made-up friends after them: friend00001, friend00002, ...
        qint64 pageSize = 0;  // the most a page holds whatever the count asked; 0: no cap
        // How the last page's next cursor reads: "end" ("0", as the service's), "endless"
        // (a new cursor each time, whose page repeats the last one's users) or "cycle"
        // (the cursor of the page before, so that the paging goes round).
        QString cursors = QStringLiteral("end");
    };
    // Replaces the friends; the reason when refused.
    QString setFriends(const Friends &friends);

    QCborMap summary() const;
    // A service that answers as if since_id had not been given, as the real one may.
    void setIgnoreSinceId(bool ignore) { mIgnoreSinceId = ignore; }

private:
    QCborMap status(const QCborMap &description, QString *error);
    QCborMap userFor(const QString &screenName, const QString &name);
    void rememberUser(const QCborMap &user);
    void rememberUsersOf(const QCborArray &items, const QString &userKey);
    QString nextId();
    qint64 friendCount() const { return mFriends.size() + mGeneratedFriends; }
    QCborMap friendAt(qint64 index) const;
    QString friendsCursor(qint64 offset) const;
    qint64 friendsOffset(const QString &cursor) const;

    QCborArray mHome;
    QCborArray mMentions;
    QCborArray mMessages;
    QCborArray mFriends; // the listed ones; the generated ones follow, made when asked for
    qint64 mGeneratedFriends = 0;
    qint64 mFriendsPageSize = 0; // 0: no cap
    QMap<qint64, QString> mFixtureCursors; // by offset: the fixtures' own cursors
    QString mFriendsEnd; // the last page's next cursor: "end", "endless" or "cycle"
    QMap<QString, QCborMap> mUsers; // by screen name in lower case
    QCborMap mAccount;
    QCborMap mConfiguration;
    qint64 mLastId = 0;
    bool mIgnoreSinceId = false;
};
