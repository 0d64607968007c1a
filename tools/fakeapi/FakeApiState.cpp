// SPDX-License-Identifier: BSD-3-Clause
#include "FakeApiState.h"

#include "ExactJson.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

namespace {

const int MaxItems = 1000;
const int MaxUsers = 1000;
const int MaxTextLength = 1000;
const int DefaultCount = 20;
const int MaxCount = 200;
const int MaxPageSize = 200;
// An account follows up to 5,000 people, more once it has many followers itself.
const qint64 MaxFriends = 10000;
// Cursors of friends made through the control API: CursorBase plus the offset into the
// list ("-1" is offset 0). Any large numbers will do.
const qint64 CursorBase = 1600000000000000000LL;
// Endless cursors count on past the list from CursorBase; far enough for any test.
const qint64 MaxEndlessPages = 1000000000LL;
// Made-up friends' ids: apart from the fixtures' and from those counted on from them.
const qint64 GeneratedFriendIdBase = 1700000000000000000LL;
const QString GeneratedFriendPrefix = QStringLiteral("friend");

qint64 idOf(const QCborValue &item)
{
    return item.toMap().value(QStringLiteral("id_str")).toString().toLongLong();
}

QString serviceDate(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd MMM dd HH:mm:ss +0000 yyyy"));
}

// The service gives each picture at an https address too ("profile_image_url_https",
// "media_url_https"), which the daemon prefers. This server answers over plain http on
// loopback only: those addresses are given with the http scheme, on the same path.
QCborValue loopbackPictures(const QCborValue &value)
{
    if (value.isArray()) {
        QCborArray array = value.toArray();
        for (QCborValueRef element : array)
            element = loopbackPictures(element);
        return array;
    }
    if (!value.isMap())
        return value;
    QCborMap map = value.toMap();
    for (auto it = map.begin(); it != map.end(); ++it) {
        const QString address = it.value().toString();
        if (it.key().toString().endsWith(QLatin1String("_https")) && address.startsWith(QLatin1String("https://")))
            it.value() = address.mid(5).prepend(QLatin1String("http"));
        else
            it.value() = loopbackPictures(it.value());
    }
    return map;
}

QCborValue readFixture(const QString &dir, const QString &name, QString *error)
{
    QFile file(dir + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.fileName() + QStringLiteral(": ") + file.errorString();
        return QCborValue();
    }
    QString parseError;
    const QCborValue value = ExactJson::read(file.readAll(), &parseError);
    if (value.isUndefined())
        *error = file.fileName() + QStringLiteral(": ") + parseError;
    return loopbackPictures(value);
}

QCborArray selection(const QCborArray &items, const QUrlQuery &query, bool ignoreSinceId)
{
    const qint64 sinceId = ignoreSinceId ? 0 : query.queryItemValue(QStringLiteral("since_id")).toLongLong();
    const qint64 maxId = query.queryItemValue(QStringLiteral("max_id")).toLongLong();
    bool ok = false;
    const int asked = query.queryItemValue(QStringLiteral("count")).toInt(&ok);
    const int count = ok ? qBound(1, asked, MaxCount) : DefaultCount;
    QCborArray selected;
    for (const QCborValue &item : items) {
        const qint64 id = idOf(item);
        if ((sinceId > 0 && id <= sinceId) || (maxId > 0 && id > maxId))
            continue;
        selected.append(item);
        if (selected.size() >= count)
            break;
    }
    return selected;
}

void prependBounded(QCborArray *items, const QCborMap &item)
{
    items->prepend(item);
    while (items->size() > MaxItems)
        items->removeLast();
}

QCborMap withId(QCborMap item, const QString &id)
{
    item.insert(QStringLiteral("id"), id.toLongLong());
    item.insert(QStringLiteral("id_str"), id);
    return item;
}

// A user as the service gives it in the friends' pages, with a profile image that the
// picture factory makes up (a PNG, so that the avatars' way through is taken).
QCborMap plainUser(const QString &id, const QString &screenName, const QString &name, const QString &imageFolder)
{
    return withId(QCborMap{{QStringLiteral("name"), name.isEmpty() ? screenName : name},
                           {QStringLiteral("screen_name"), screenName},
                           {QStringLiteral("profile_image_url"),
                            QStringLiteral("http://pbs.twimg.com/profile_images/%1/%2_normal.png").arg(imageFolder, screenName)},
                           {QStringLiteral("following"), true},
                           {QStringLiteral("protected"), false}},
                  id);
}

QCborMap generatedFriend(qint64 number)
{
    const QString digits = QStringLiteral("%1").arg(number, 5, 10, QLatin1Char('0'));
    return plainUser(QString::number(GeneratedFriendIdBase + number), GeneratedFriendPrefix + digits,
                     QStringLiteral("Friend ") + digits, digits);
}

}

bool FakeApiState::load(const QString &fixturesDir, QString *error)
{
    error->clear();
    mIgnoreSinceId = false;
    mHome = readFixture(fixturesDir, QStringLiteral("home_timeline.json"), error).toArray();
    mMentions = readFixture(fixturesDir, QStringLiteral("mentions_timeline.json"), error).toArray();
    mMessages = readFixture(fixturesDir, QStringLiteral("direct_messages.json"), error).toArray();
    const QCborMap first = readFixture(fixturesDir, QStringLiteral("friends_list_page1.json"), error).toMap();
    const QCborMap second = readFixture(fixturesDir, QStringLiteral("friends_list_page2.json"), error).toMap();
    mAccount = readFixture(fixturesDir, QStringLiteral("account_verify_credentials.json"), error).toMap();
    mConfiguration = readFixture(fixturesDir, QStringLiteral("help_configuration.json"), error).toMap();
    const QCborMap alice = readFixture(fixturesDir, QStringLiteral("users_show_alice.json"), error).toMap();
    if (!error->isEmpty())
        return false;

    // The fixtures' two pages, with their own cursor between them.
    const QCborArray firstUsers = first.value(QStringLiteral("users")).toArray();
    mFriends = firstUsers;
    for (const QCborValue &user : second.value(QStringLiteral("users")).toArray())
        mFriends.append(user);
    mGeneratedFriends = 0;
    mFriendsPageSize = firstUsers.size();
    mFixtureCursors = {{firstUsers.size(), first.value(QStringLiteral("next_cursor_str")).toString()}};
    mFriendsEnd = QStringLiteral("end");
    mUsers.clear();
    mLastId = 0;
    rememberUsersOf(mHome, QStringLiteral("user"));
    rememberUsersOf(mMentions, QStringLiteral("user"));
    rememberUsersOf(mMessages, QStringLiteral("sender"));
    rememberUsersOf(mFriends, QString());
    rememberUser(mAccount);
    rememberUser(alice);
    for (const QCborArray *items : {&mHome, &mMentions, &mMessages}) {
        for (const QCborValue &item : *items)
            mLastId = qMax(mLastId, idOf(item));
    }
    return true;
}

QCborArray FakeApiState::homeTimeline(const QUrlQuery &query) const
{
    return selection(mHome, query, mIgnoreSinceId);
}

QCborArray FakeApiState::mentions(const QUrlQuery &query) const
{
    return selection(mMentions, query, mIgnoreSinceId);
}

QCborArray FakeApiState::directMessages(const QUrlQuery &query) const
{
    return selection(mMessages, query, mIgnoreSinceId);
}

bool FakeApiState::friendsPage(const QUrlQuery &query, QCborMap *page) const
{
    bool ok = false;
    const int asked = query.queryItemValue(QStringLiteral("count")).toInt(&ok);
    qint64 size = ok ? qBound(1, asked, MaxCount) : DefaultCount;
    if (mFriendsPageSize > 0)
        size = qMin(size, mFriendsPageSize);
    QString cursor = query.queryItemValue(QStringLiteral("cursor"));
    // A previous cursor ("-" and a page's own cursor) names the page before that one.
    const bool backwards = cursor.startsWith(QLatin1Char('-')) && cursor != QLatin1String("-1");
    if (backwards)
        cursor.remove(0, 1);
    qint64 offset = friendsOffset(cursor);
    if (offset < 0 || (backwards && offset == 0))
        return false;
    if (backwards)
        offset = qMax<qint64>(0, offset - size);

    const qint64 total = friendCount();
    const bool endless = mFriendsEnd == QLatin1String("endless");
    // Past the end a faulty service's endless cursors give the last page again; the
    // service's own give nothing more (the friends got fewer since the cursor was given).
    qint64 start = offset;
    if (offset >= total && endless && total > 0)
        start = ((total - 1) / size) * size;
    QCborArray users;
    for (qint64 i = start; i < qMin(start + size, total); ++i)
        users.append(friendAt(i));
    QString next = friendsCursor(start + size);
    if (start + size >= total) {
        if (endless)
            next = QString::number(CursorBase + qMax(offset, total) + 1);
        else if (mFriendsEnd == QLatin1String("cycle"))
            next = friendsCursor(qMax<qint64>(0, start - size));
        else
            next = QStringLiteral("0");
    }
    const QString previous = offset > 0 ? QStringLiteral("-") + friendsCursor(offset) : QStringLiteral("0");
    *page = QCborMap{{QStringLiteral("users"), users},
                     {QStringLiteral("next_cursor"), next.toLongLong()},
                     {QStringLiteral("next_cursor_str"), next},
                     {QStringLiteral("previous_cursor"), previous.toLongLong()},
                     {QStringLiteral("previous_cursor_str"), previous},
                     {QStringLiteral("total_count"), QCborValue(QCborValue::Null)}};
    return true;
}

QCborMap FakeApiState::friendAt(qint64 index) const
{
    return index < mFriends.size() ? mFriends.at(index).toMap() : generatedFriend(index - mFriends.size() + 1);
}

QString FakeApiState::friendsCursor(qint64 offset) const
{
    if (offset == 0)
        return QStringLiteral("-1");
    return mFixtureCursors.value(offset, QString::number(CursorBase + offset));
}

// The offset a cursor of ours names; -1 for one that no page has given.
qint64 FakeApiState::friendsOffset(const QString &cursor) const
{
    if (cursor.isEmpty() || cursor == QLatin1String("-1"))
        return 0;
    for (auto it = mFixtureCursors.cbegin(); it != mFixtureCursors.cend(); ++it) {
        if (it.value() == cursor)
            return it.key();
    }
    bool numeric = false;
    const qint64 offset = cursor.toLongLong(&numeric) - CursorBase;
    if (!numeric || offset < 1 || offset > MaxFriends + MaxEndlessPages)
        return -1;
    return offset;
}

QCborMap FakeApiState::user(const QString &screenName) const
{
    const QString key = screenName.toLower();
    const auto known = mUsers.constFind(key);
    if (known != mUsers.constEnd())
        return *known;
    // The made-up friends are not held, only made again when asked for.
    bool numeric = false;
    const qint64 number = key.startsWith(GeneratedFriendPrefix) && key.size() == GeneratedFriendPrefix.size() + 5
        ? key.mid(GeneratedFriendPrefix.size()).toLongLong(&numeric)
        : 0;
    return numeric && number >= 1 && number <= mGeneratedFriends ? generatedFriend(number) : QCborMap();
}

QString FakeApiState::addTweet(const QCborMap &description, QString *error)
{
    const QCborMap tweet = status(description, error);
    if (tweet.isEmpty())
        return QString();
    prependBounded(&mHome, tweet);
    return tweet.value(QStringLiteral("id_str")).toString();
}

QString FakeApiState::addMention(const QCborMap &description, QString *error)
{
    QCborMap mention = status(description, error);
    if (mention.isEmpty())
        return QString();
    if (description.contains(QStringLiteral("following"))) {
        QCborMap author = mention.value(QStringLiteral("user")).toMap();
        // null: the field left out, as the service may.
        if (description.value(QStringLiteral("following")).isNull())
            author.remove(QStringLiteral("following"));
        else
            author.insert(QStringLiteral("following"), description.value(QStringLiteral("following")));
        mention.insert(QStringLiteral("user"), author);
    }
    prependBounded(&mMentions, mention);
    return mention.value(QStringLiteral("id_str")).toString();
}

QString FakeApiState::addMessage(const QCborMap &description, QString *error)
{
    const QString text = description.value(QStringLiteral("text")).toString();
    const QString sender = description.value(QStringLiteral("screen_name")).toString();
    if (text.isEmpty() || text.size() > MaxTextLength || sender.isEmpty()) {
        *error = QStringLiteral("a message needs a text (up to 1000 characters) and the sender's screen_name");
        return QString();
    }
    const QCborMap from = userFor(sender, description.value(QStringLiteral("name")).toString());
    const QString id = nextId();
    QCborMap message = withId(QCborMap(), id);
    message.insert(QStringLiteral("created_at"), serviceDate(QDateTime::currentDateTimeUtc()));
    message.insert(QStringLiteral("text"), text);
    message.insert(QStringLiteral("sender"), from);
    message.insert(QStringLiteral("sender_id"), from.value(QStringLiteral("id")));
    message.insert(QStringLiteral("sender_id_str"), from.value(QStringLiteral("id_str")));
    message.insert(QStringLiteral("sender_screen_name"), from.value(QStringLiteral("screen_name")));
    message.insert(QStringLiteral("recipient"), mAccount);
    message.insert(QStringLiteral("recipient_id"), mAccount.value(QStringLiteral("id")));
    message.insert(QStringLiteral("recipient_id_str"), mAccount.value(QStringLiteral("id_str")));
    message.insert(QStringLiteral("recipient_screen_name"), mAccount.value(QStringLiteral("screen_name")));
    message.insert(QStringLiteral("entities"), QCborMap{{QStringLiteral("hashtags"), QCborArray()},
                                                        {QStringLiteral("symbols"), QCborArray()},
                                                        {QStringLiteral("user_mentions"), QCborArray()},
                                                        {QStringLiteral("urls"), QCborArray()}});
    prependBounded(&mMessages, message);
    return id;
}

bool FakeApiState::deleteTweet(const QString &id)
{
    bool found = false;
    for (QCborArray *items : {&mHome, &mMentions}) {
        for (qsizetype i = items->size() - 1; i >= 0; --i) {
            if (items->at(i).toMap().value(QStringLiteral("id_str")).toString() == id) {
                items->removeAt(i);
                found = true;
            }
        }
    }
    return found;
}

QString FakeApiState::setFriends(const Friends &friends)
{
    if (friends.pageSize < 0 || friends.pageSize > MaxPageSize)
        return QStringLiteral("page_size must be 1 to 200, or left out for no cap");
    if (!QStringList{QStringLiteral("end"), QStringLiteral("endless"), QStringLiteral("cycle")}.contains(friends.cursors))
        return QStringLiteral("cursors must be end, endless or cycle");
    if (friends.generate < 0 || friends.users.size() + friends.generate > MaxFriends)
        return QStringLiteral("generate must be a number, and the friends listed and generated at most 10000");
    mFriendsEnd = friends.cursors;
    mFriendsPageSize = friends.pageSize;
    mFixtureCursors.clear();
    mFriends = QCborArray();
    for (const QCborValue &entry : friends.users) {
        const QCborMap user = entry.isMap() ? entry.toMap() : userFor(entry.toString(), QString());
        rememberUser(user);
        mFriends.append(user);
    }
    mGeneratedFriends = friends.generate;
    return QString();
}

QCborMap FakeApiState::summary() const
{
    return {{QStringLiteral("home_timeline"), mHome.size()},
            {QStringLiteral("mentions"), mMentions.size()},
            {QStringLiteral("direct_messages"), mMessages.size()},
            {QStringLiteral("friends"), friendCount()},
            {QStringLiteral("friends_page_size"),
             mFriendsPageSize > 0 ? QCborValue(mFriendsPageSize) : QCborValue(QCborValue::Null)},
            {QStringLiteral("users"), mUsers.size()}};
}

// A new tweet from its description: text, screen_name, and optionally name, id_str,
// media_url (a photo attachment), link (a URL entity to that address, whose short
// address is link_url if given), profile_image_url and omit (fields left out).
QCborMap FakeApiState::status(const QCborMap &description, QString *error)
{
    const QString text = description.value(QStringLiteral("text")).toString();
    const QString author = description.value(QStringLiteral("screen_name")).toString();
    QString id = description.value(QStringLiteral("id_str")).toString();
    if (text.isEmpty() || text.size() > MaxTextLength || author.isEmpty()) {
        *error = QStringLiteral("a tweet needs a text (up to 1000 characters) and the author's screen_name");
        return QCborMap();
    }
    bool numeric = false;
    if (!id.isEmpty() && (id.toLongLong(&numeric) <= 0 || !numeric)) {
        *error = QStringLiteral("id_str must be a positive 64-bit number");
        return QCborMap();
    }
    if (id.isEmpty())
        id = nextId();
    mLastId = qMax(mLastId, id.toLongLong());

    QCborArray urls;
    QCborArray media;
    const QString link = description.value(QStringLiteral("link")).toString();
    const QString shortLink = description.value(QStringLiteral("link_url")).toString(QStringLiteral("https://t.co/link"));
    if (!link.isEmpty())
        urls.append(QCborMap{{QStringLiteral("url"), shortLink},
                             {QStringLiteral("expanded_url"), link},
                             {QStringLiteral("display_url"), link},
                             {QStringLiteral("indices"), QCborArray{text.size() + 1, text.size() + 1 + shortLink.size()}}});
    const QString mediaUrl = description.value(QStringLiteral("media_url")).toString();
    if (!mediaUrl.isEmpty())
        media.append(withId(QCborMap{{QStringLiteral("media_url"), mediaUrl},
                                     {QStringLiteral("url"), QStringLiteral("https://t.co/media")},
                                     {QStringLiteral("type"), QStringLiteral("photo")}},
                            nextId()));
    QCborMap entities = {{QStringLiteral("hashtags"), QCborArray()},
                         {QStringLiteral("symbols"), QCborArray()},
                         {QStringLiteral("user_mentions"), QCborArray()},
                         {QStringLiteral("urls"), urls}};
    if (!media.isEmpty())
        entities.insert(QStringLiteral("media"), media);
    QCborMap tweet = withId(QCborMap(), id);
    tweet.insert(QStringLiteral("created_at"), serviceDate(QDateTime::currentDateTimeUtc()));
    tweet.insert(QStringLiteral("text"), link.isEmpty() ? text : text + QLatin1Char(' ') + shortLink);
    tweet.insert(QStringLiteral("truncated"), false);
    tweet.insert(QStringLiteral("entities"), entities);
    // Odd data a service may send: the author's avatar address as given, fields left out.
    QCborMap user = userFor(author, description.value(QStringLiteral("name")).toString());
    if (description.contains(QStringLiteral("profile_image_url")))
        user.insert(QStringLiteral("profile_image_url"), description.value(QStringLiteral("profile_image_url")).toString());
    for (const QCborValue &field : description.value(QStringLiteral("omit")).toArray()) {
        if (field.toString() == QLatin1String("id"))
            tweet.remove(QStringLiteral("id"));
        else
            user.remove(field.toString());
    }
    tweet.insert(QStringLiteral("user"), user);
    tweet.insert(QStringLiteral("retweet_count"), 0);
    tweet.insert(QStringLiteral("favorite_count"), 0);
    tweet.insert(QStringLiteral("lang"), QStringLiteral("en"));
    return tweet;
}

// The known user of this screen name, or a new one.
QCborMap FakeApiState::userFor(const QString &screenName, const QString &name)
{
    const QCborMap known = user(screenName);
    if (!known.isEmpty())
        return known;
    const QString id = nextId();
    const QCborMap created = plainUser(id, screenName, name, id.right(5));
    rememberUser(created);
    return created;
}

void FakeApiState::rememberUser(const QCborMap &user)
{
    const QString key = user.value(QStringLiteral("screen_name")).toString().toLower();
    if (key.isEmpty() || (mUsers.size() >= MaxUsers && !mUsers.contains(key)))
        return;
    // A user with its latest status (users/show) is not replaced by a plain copy.
    if (mUsers.value(key).contains(QStringLiteral("status")) && !user.contains(QStringLiteral("status")))
        return;
    mUsers.insert(key, user);
}

void FakeApiState::rememberUsersOf(const QCborArray &items, const QString &userKey)
{
    for (const QCborValue &item : items)
        rememberUser(userKey.isEmpty() ? item.toMap() : item.toMap().value(userKey).toMap());
}

QString FakeApiState::nextId()
{
    return QString::number(++mLastId);
}
