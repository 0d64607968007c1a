// SPDX-License-Identifier: BSD-3-Clause
// The client library's network side for the running daemon: the service's REST API v1.1
// over HTTP, signed with the account's credentials, and an on-disk cache of the answers
// and pictures (see TwCache) for the requests that are answered at once.

#include "Twitter.h"

#include "TwAccount.h"
#include "TwApiConnection.h"
#include "TwCache.h"
#include "TwHttpRequest.h"
#include "TwJson.h"
#include "TwPictures.h"
#include "TwPngWriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFutureWatcher>
#include <QImageReader>
#include <QPointer>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <memory>

namespace Tw {

namespace {

// Cached files and answers not written or served for this long go with deleteOldStuff().
const int CacheDays = 7;
// Polls since an id add their answer to the cached one, up to this many items.
const int MaxCachedItems = 200;
// The service lets an account follow about 5000; more is taken for a faulty paging.
const int MaxFriends = 10000;
// Friends pagings waiting for their next page at once: the daemon runs two at most.
const int MaxPagings = 8;
const int HttpOk = 200;
const int HttpUnauthorized = 401;
const int TooManyRequests = 429;
const QString OAuthFailure = QStringLiteral("Could not authenticate with OAuth.");
// The service's error codes of a rejected signature, token or timestamp.
const QList<int> OAuthErrorCodes = {32, 89, 135, 215};
const QString LastUpdateTime = QStringLiteral("last_update_time");
const QByteArray AvatarSourceKey = "Source";
// Avatars are composed anew and always stored as png.
const QLatin1String AvatarExtension(".png");

struct Endpoint
{
    QString path;
    // The parameters the endpoint takes; others in a request's arguments are left out.
    QStringList parameters;
};

Endpoint timelineEndpoint(TimelineType::TimelineType type)
{
    const QStringList paging = {QStringLiteral("count"), QStringLiteral("since_id"), QStringLiteral("max_id"),
                                QStringLiteral("trim_user"), QStringLiteral("include_entities")};
    switch (type) {
    case TimelineType::HomeTimeline:
        return {QStringLiteral("statuses/home_timeline.json"), paging + QStringList{QStringLiteral("exclude_replies")}};
    case TimelineType::MentionsTimeline:
        return {QStringLiteral("statuses/mentions_timeline.json"), paging};
    case TimelineType::UserTimeline:
        return {QStringLiteral("statuses/user_timeline.json"),
                paging + QStringList{QStringLiteral("screen_name"), QStringLiteral("user_id"),
                                     QStringLiteral("exclude_replies"), QStringLiteral("include_rts")}};
    default:
        return {};
    }
}

Endpoint directMessagesEndpoint(DirectMessageType::DirectMessageType type)
{
    const QStringList paging = {QStringLiteral("count"), QStringLiteral("since_id"), QStringLiteral("max_id"),
                                QStringLiteral("include_entities"), QStringLiteral("skip_status")};
    if (type == DirectMessageType::ReceivedMessages)
        return {QStringLiteral("direct_messages.json"), paging};
    return {QStringLiteral("direct_messages/sent.json"), paging + QStringList{QStringLiteral("page")}};
}

const Endpoint UserShowEndpoint = {QStringLiteral("users/show.json"),
                                   {QStringLiteral("screen_name"), QStringLiteral("user_id"),
                                    QStringLiteral("include_entities")}};
const Endpoint FriendsListEndpoint = {QStringLiteral("friends/list.json"),
                                      {QStringLiteral("cursor"), QStringLiteral("screen_name"),
                                       QStringLiteral("user_id"), QStringLiteral("count"),
                                       QStringLiteral("skip_status"), QStringLiteral("include_user_entities")}};
const Endpoint HelpConfigurationEndpoint = {QStringLiteral("help/configuration.json"), {}};

QString idOf(const QVariant &item)
{
    return item.toMap().value(QStringLiteral("id")).toString();
}

// The items of both lists, each id once, newest first as the service sends them: an
// answer since an id brings newer items, one up to an id older ones.
QVariantList newestFirst(const QVariantList &fresh, const QVariantList &older)
{
    QVariantList merged = fresh;
    QSet<QString> ids;
    for (const QVariant &item : fresh)
        ids.insert(idOf(item));
    for (const QVariant &item : older) {
        if (!ids.contains(idOf(item)))
            merged.append(item);
    }
    std::stable_sort(merged.begin(), merged.end(), [](const QVariant &a, const QVariant &b) {
        return Twitter::compareIds(idOf(a), idOf(b)) > 0;
    });
    return merged.mid(0, MaxCachedItems);
}

bool isListOfObjects(const QVariant &value)
{
    if (value.type() != QVariant::List)
        return false;
    for (const QVariant &item : value.toList()) {
        if (item.type() != QVariant::Map)
            return false;
    }
    return true;
}

bool isHttpUrl(const QUrl &url)
{
    return url.isValid() && !url.host().isEmpty()
        && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

// The service gives each picture at an http and an https address that differ only in
// their scheme: an avatar fetched from either is the picture of both.
bool samePicture(const QString &source, const QString &url)
{
    const auto withoutScheme = [](const QString &address) { return address.mid(address.indexOf(QLatin1Char(':'))); };
    const QUrl a(source);
    const QUrl b(url);
    return source == url
        || (isHttpUrl(a) && isHttpUrl(b) && withoutScheme(source) == withoutScheme(url));
}

// What a downloaded picture became on the picture thread: the file written, or why none was.
struct PictureOutcome
{
    QString path;
    QString error;
    QByteArray format;
    QSize size; // the picture's own
};

// Pictures are decoded beside the event loop, one at a time: a 4096 x 4096 PNG takes a
// few hundred milliseconds and 64 MiB to decode, which on the loop held every bus call
// back, and two at once would take twice the memory. A child of the application, so that
// a picture still being made is waited for as the application ends, while everything it
// uses is still there.
QThreadPool *pictureThread()
{
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setObjectName(QStringLiteral("pictureThread"));
        pool->setMaxThreadCount(1);
    }
    return pool;
}

// The thumbnail of a picture, decoded at the size it is shown at (see TwPictures).
PictureOutcome makeThumbnail(const QByteArray &data, const QString &basePath)
{
    PictureOutcome outcome;
    const QImage picture = TwPictures::decode(data, &outcome.format, &outcome.error, TwPictures::thumbnailSize,
                                              &outcome.size);
    if (picture.isNull())
        return outcome;
    outcome.path = TwPictures::saveThumbnail(data, picture, outcome.format, basePath, outcome.size);
    if (outcome.path.isEmpty())
        outcome.error = QStringLiteral("The thumbnail could not be stored");
    return outcome;
}

// The avatar of a picture, cut round by the mask and written as PNG at path, with the
// picture's address, so that a changed avatar is told from the cache.
PictureOutcome makeAvatar(const QByteArray &data, const QImage &mask, const QString &size, const QString &url,
                          const QString &path)
{
    PictureOutcome outcome;
    const auto shown = [&mask, &size](const QSize &picture) { return TwPictures::avatarSize(picture, mask, size); };
    const QImage picture = TwPictures::decode(data, &outcome.format, &outcome.error, shown, &outcome.size);
    if (picture.isNull())
        return outcome;
    QImage avatar = TwPictures::composeAvatar(picture, mask, size);
    avatar.setText(QString::fromLatin1(AvatarSourceKey), url);
    QByteArray encoded;
    if (TwPngWriter::write(avatar, &encoded) && TwCache::writeFile(path, encoded))
        outcome.path = path;
    else
        outcome.error = QStringLiteral("The avatar could not be stored");
    return outcome;
}

// A request refused at once; where is the refusing function's Q_FUNC_INFO.
int refuse(const char *where, int *queryId, int status, const char *why)
{
    qCritical() << where << why;
    if (queryId)
        *queryId = -1;
    return status;
}

}

class TwitterPrivate
{
public:
    // Takes a successful answer's body; returns why the body does not fit, or nothing.
    using Handler = std::function<QString(int queryId, const QVariant &body)>;
    // Makes the file of a downloaded picture on the picture thread: holds copies only.
    using PictureWork = std::function<PictureOutcome(const QByteArray &data)>;
    // Takes the file made, back on the client's thread.
    using PictureDone = std::function<void(int queryId, const QString &path)>;

    TwitterPrivate(Twitter *client, const QString &token, const QString &tokenSecret, const QString &userId,
                   const QString &consumerKey, const QString &consumerSecret);
    ~TwitterPrivate();

    static int nextQueryId();
    // Writes the id of an accepted request.
    static int started(int *queryId, int id);
    static bool knownBehavior(int behavior);

    int fetch(const Endpoint &endpoint, const QMap<QString, QString> &args, const Handler &handler);
    void answer(int queryId, const QString &endpoint, const TwHttpResult &result, const Handler &handler);
    int fetchPicture(const QUrl &url, const PictureWork &work, const PictureDone &done);
    void answerPicture(int queryId, const QString &target, const TwHttpResult &result, const PictureWork &work,
                       const PictureDone &done);
    void reportError(int queryId, const QString &request, const QString &error, int status = 0);
    void reportErrorLater(int queryId, const QString &request, const QString &error, int status);

    QString storeList(const QString &key, const QVariant &body, const QMap<QString, QString> &args);
    int userShow(QVariantList *result, int *queryId, const QMap<QString, QString> &args,
                 Twitter::RetrieveBehavior behavior);
    int friendsList(QVariantList *result, int *queryId, const QMap<QString, QString> &args,
                    Twitter::RetrieveBehavior behavior);
    int avatar(QVariantList *result, int *queryId, UserType::UserType type, const QMap<QString, QString> &args,
               Twitter::RetrieveBehavior behavior);
    void collectFriends(const QString &owner, const QString &cursor, const QVariantMap &page);
    QString cachedAvatar(const QString &key, const QString &url) const;

    Twitter *q;
    const QString token;
    const QString tokenSecret;
    const QString consumerKey;
    const QString consumerSecret;
    const QUrl apiBase;
    QImage mask;
    TwCache cache;
    TwApiConnection *connection;
    // Cleared when the client goes: its pictures still waiting for the picture thread are
    // not made then (their answers would go nowhere).
    const std::shared_ptr<std::atomic_bool> alive = std::make_shared<std::atomic_bool>(true);

    struct GatheredFriends {
        QVariantList users;
        QSet<QString> ids;
        QSet<QString> cursors;
    };
    // Friends gathered page by page until the last page completes them, by the owner and
    // the cursor that continues them ("owner/cursor").
    QHash<QString, GatheredFriends> friendsPaging;
};

TwitterPrivate::TwitterPrivate(Twitter *client, const QString &token, const QString &tokenSecret,
                               const QString &userId, const QString &consumerKey, const QString &consumerSecret)
    : q(client)
    , token(token)
    , tokenSecret(tokenSecret)
    , consumerKey(consumerKey)
    , consumerSecret(consumerSecret)
    , apiBase(TwAccount::apiBase())
    , cache(userId)
    , connection(new TwApiConnection(apiBase, TwRequestSigner(consumerKey, consumerSecret, token, tokenSecret),
                                     client))
{
}

TwitterPrivate::~TwitterPrivate()
{
    *alive = false;
}

int TwitterPrivate::nextQueryId()
{
    static int last = 0;
    last = last == std::numeric_limits<int>::max() ? 1 : last + 1;
    return last;
}

int TwitterPrivate::started(int *queryId, int id)
{
    if (queryId)
        *queryId = id;
    return Twitter::RETRIEVE_OK;
}

bool TwitterPrivate::knownBehavior(int behavior)
{
    return behavior == Twitter::RETRIEVE_FROM_CACHE || behavior == Twitter::RETRIEVE_FROM_NETWORK;
}

int TwitterPrivate::fetch(const Endpoint &endpoint, const QMap<QString, QString> &args, const Handler &handler)
{
    const int queryId = nextQueryId();
    TwApiConnection::Query query;
    for (auto it = args.cbegin(); it != args.cend(); ++it) {
        if (endpoint.parameters.contains(it.key()))
            query.append({it.key(), it.value()});
    }
    TwHttpRequest *request = connection->get(endpoint.path, query);
    if (!request) {
        qWarning() << Q_FUNC_INFO << endpoint.path << "is held back by the rate limit";
        reportErrorLater(queryId, endpoint.path, connection->holdMessage(endpoint.path), TooManyRequests);
        return queryId;
    }
    const QString path = endpoint.path;
    QObject::connect(request, &TwHttpRequest::finished, q,
                     [this, queryId, path, handler](const TwHttpResult &result) {
                         answer(queryId, path, result, handler);
                     });
    return queryId;
}

void TwitterPrivate::answer(int queryId, const QString &endpoint, const TwHttpResult &result, const Handler &handler)
{
    if (!result.answered()) {
        reportError(queryId, endpoint, result.failure);
        return;
    }
    QString parseError;
    const QVariant body = TwJson::parse(result.body, &parseError);
    if (result.status != HttpOk) {
        const int code = TwJson::errorCode(body);
        QString message = TwJson::errorMessage(body);
        if (result.status == HttpUnauthorized || OAuthErrorCodes.contains(code))
            message = OAuthFailure;
        else if (message.isEmpty())
            message = QStringLiteral("HTTP status %1").arg(result.status);
        reportError(queryId, endpoint, message, result.status);
        return;
    }
    if (!body.isValid()) {
        reportError(queryId, endpoint, QStringLiteral("Malformed JSON in the answer: ") + parseError, result.status);
        return;
    }
    qDebug() << Q_FUNC_INFO << queryId << endpoint;
    const QString unfit = handler(queryId, body);
    if (!unfit.isEmpty())
        reportError(queryId, endpoint, QStringLiteral("Unexpected answer: ") + unfit, result.status);
}

int TwitterPrivate::fetchPicture(const QUrl &url, const PictureWork &work, const PictureDone &done)
{
    const int queryId = nextQueryId();
    TwHttpRequest *request = connection->download(url);
    const QString target = request->target();
    QObject::connect(request, &TwHttpRequest::finished, q,
                     [this, queryId, target, work, done](const TwHttpResult &result) {
                         answerPicture(queryId, target, result, work, done);
                     });
    return queryId;
}

void TwitterPrivate::answerPicture(int queryId, const QString &target, const TwHttpResult &result,
                                   const PictureWork &work, const PictureDone &done)
{
    if (!result.answered()) {
        reportError(queryId, target, result.failure);
        return;
    }
    if (result.status != HttpOk) {
        reportError(queryId, target, QStringLiteral("HTTP status %1 for the picture").arg(result.status),
                    result.status);
        return;
    }
    // The watcher is the client's child: a client deleted meanwhile takes it along, and the
    // outcome goes nowhere.
    auto *watcher = new QFutureWatcher<PictureOutcome>(q);
    const int status = result.status;
    QObject::connect(watcher, &QFutureWatcherBase::finished, q, [this, watcher, queryId, target, status, done] {
        watcher->deleteLater();
        const PictureOutcome outcome = watcher->result();
        if (!outcome.error.isEmpty()) {
            reportError(queryId, target, outcome.error, status);
            return;
        }
        qDebug() << Q_FUNC_INFO << queryId << target << outcome.format << outcome.size;
        done(queryId, outcome.path);
    });
    const QByteArray data = result.body;
    const std::shared_ptr<std::atomic_bool> clientAlive = alive;
    watcher->setFuture(QtConcurrent::run(pictureThread(), [clientAlive, work, data] {
        return *clientAlive ? work(data) : PictureOutcome();
    }));
}

void TwitterPrivate::reportError(int queryId, const QString &request, const QString &error, int status)
{
    qWarning() << Q_FUNC_INFO << queryId << request << status << error;
    QVariantMap map = {{QStringLiteral("error"), error}, {QStringLiteral("request"), request}};
    if (status != 0)
        map.insert(QStringLiteral("http_status"), status);
    // When a request refused by the rate limit may be made again.
    const qint64 held = connection->holdRemainingMs(request);
    if (status == TooManyRequests && held > 0)
        map.insert(QLatin1String(Twitter::RetryAfterKey), held);
    emit q->networkRequestError(queryId, map);
}

// For a request that fails before it is made: the caller gets its query id first.
void TwitterPrivate::reportErrorLater(int queryId, const QString &request, const QString &error, int status)
{
    QMetaObject::invokeMethod(
        q, [this, queryId, request, error, status] { reportError(queryId, request, error, status); },
        Qt::QueuedConnection);
}

QString TwitterPrivate::storeList(const QString &key, const QVariant &body, const QMap<QString, QString> &args)
{
    if (!isListOfObjects(body))
        return QStringLiteral("not a list of objects");
    // An answer since or up to an id holds only part of the list: it joins what was there.
    const QVariantList list = args.contains(QStringLiteral("since_id")) || args.contains(QStringLiteral("max_id"))
        ? newestFirst(body.toList(), cache.response(key).toList())
        : body.toList().mid(0, MaxCachedItems);
    cache.storeResponse(key, list);
    return QString();
}

// A paging is the chain of pages from the first cursor: each page continues the paging
// that waits for its cursor, so that two fetches of one account, or one resumed after a
// wait, never mix their pages; a page of a paging not seen from its start completes none.
void TwitterPrivate::collectFriends(const QString &owner, const QString &cursor, const QVariantMap &page)
{
    const bool first = cursor.isEmpty() || cursor == QLatin1String(Twitter::FirstCursor);
    GatheredFriends paging = first ? GatheredFriends() : friendsPaging.take(owner + QLatin1Char('/') + cursor);
    if (!first && paging.cursors.isEmpty()) {
        qDebug() << Q_FUNC_INFO << owner << "page of a paging not seen from its start:" << cursor;
        return;
    }
    paging.cursors.insert(first ? QString::fromLatin1(Twitter::FirstCursor) : cursor);
    for (const QVariant &user : page.value(QStringLiteral("users")).toList()) {
        const QString id = idOf(user);
        if (paging.users.size() < MaxFriends && !paging.ids.contains(id)) {
            paging.ids.insert(id);
            paging.users.append(user);
        }
    }
    // The paging ends where the daemon's does, by the same rule.
    const QString next = Twitter::nextFriendsCursor(page, paging.cursors);
    if (!next.isEmpty()) {
        if (friendsPaging.size() >= MaxPagings) {
            qWarning() << Q_FUNC_INFO << "too many friends pagings under way; the older ones are dropped";
            friendsPaging.clear();
        }
        friendsPaging.insert(owner + QLatin1Char('/') + next, paging);
        return;
    }
    qDebug() << Q_FUNC_INFO << owner << "has" << paging.users.size() << "friends";
    cache.storeResponse(QStringLiteral("friends/") + owner, paging.users);
}

// The avatar file of this key; empty when there is none or it shows another picture
// than the one at url.
QString TwitterPrivate::cachedAvatar(const QString &key, const QString &url) const
{
    const QString path = cache.existingPicture(QStringLiteral("avatars"), key, {AvatarExtension});
    if (path.isEmpty() || url.isEmpty())
        return path;
    // Named, the format is read by QtGui itself; probing for it would load every image plugin.
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return samePicture(reader.text(QString::fromLatin1(AvatarSourceKey)), url) ? path : QString();
}

Twitter::Twitter(const QString &token, const QString &tokenSecret, const QString &userId, const QString &,
                 const QString &consumerKey, const QString &consumerSecret, QObject *parent)
    : QObject(parent)
    , d(new TwitterPrivate(this, token, tokenSecret, userId, consumerKey, consumerSecret))
{
    registerMetaTypes();
}

Twitter::~Twitter() = default;

bool Twitter::init()
{
    const bool complete = !d->token.isEmpty() && !d->tokenSecret.isEmpty() && !d->consumerKey.isEmpty()
        && !d->consumerSecret.isEmpty();
    if (!complete)
        qWarning() << Q_FUNC_INFO << "incomplete credentials";
    if (!isHttpUrl(d->apiBase))
        qWarning() << Q_FUNC_INFO << "unusable API address" << d->apiBase;
    qDebug() << Q_FUNC_INFO << d->apiBase << d->cache.root();
    return complete && isHttpUrl(d->apiBase);
}

void Twitter::setMask(const QImage &mask)
{
    d->mask = mask;
}

int Twitter::retrieveTimelineResources(QList<QVariant> *result, int *queryId, const TimelineType::TimelineType &type,
                                       const QMap<QString, QString> &args, RetrieveBehavior behavior)
{
    if (!TwitterPrivate::knownBehavior(behavior))
        return refuse(Q_FUNC_INFO, queryId, RETRIEVE_BAD_REQUEST, "unknown retrieve behaviour");
    const Endpoint endpoint = timelineEndpoint(type);
    if (endpoint.path.isEmpty())
        return refuse(Q_FUNC_INFO, queryId, RETRIEVE_NOT_AVAILABLE, "timeline type not offered by the service");
    QString key = QStringLiteral("timeline/%1").arg(int(type));
    if (type == TimelineType::UserTimeline)
        key += QLatin1Char('/') + args.value(QStringLiteral("screen_name")).toLower()
            + QLatin1Char('/') + args.value(QStringLiteral("user_id"));
    if (behavior == RETRIEVE_FROM_CACHE) {
        if (result)
            *result = d->cache.response(key).toList();
        return TwitterPrivate::started(queryId, TwitterPrivate::nextQueryId());
    }
    const int id = d->fetch(endpoint, args, [this, key, args, type](int queryId, const QVariant &body) {
        const QString unfit = d->storeList(key, body, args);
        if (unfit.isEmpty())
            emit timelineUpdated(type, body.toList(), queryId);
        return unfit;
    });
    return TwitterPrivate::started(queryId, id);
}

int Twitter::retrieveDirectMessages(QList<QVariant> *result, int *queryId,
                                    const DirectMessageType::DirectMessageType &type,
                                    const QMap<QString, QString> &args, RetrieveBehavior behavior)
{
    if (!TwitterPrivate::knownBehavior(behavior))
        return refuse(Q_FUNC_INFO, queryId, RETRIEVE_BAD_REQUEST, "unknown retrieve behaviour");
    const QString key = QStringLiteral("direct_messages/%1").arg(int(type));
    if (behavior == RETRIEVE_FROM_CACHE) {
        if (result)
            *result = d->cache.response(key).toList();
        return TwitterPrivate::started(queryId, TwitterPrivate::nextQueryId());
    }
    const int id = d->fetch(directMessagesEndpoint(type), args, [this, key, args, type](int queryId, const QVariant &body) {
        const QString unfit = d->storeList(key, body, args);
        if (unfit.isEmpty())
            emit directMessageUpdated(type, body.toList(), queryId);
        return unfit;
    });
    return TwitterPrivate::started(queryId, id);
}

int Twitter::retrieveUserResources(QList<QVariant> *result, int *queryId, const UserType::UserType &type,
                                   const QMap<QString, QString> &args, RetrieveBehavior behavior)
{
    if (!TwitterPrivate::knownBehavior(behavior))
        return refuse(Q_FUNC_INFO, queryId, RETRIEVE_BAD_REQUEST, "unknown retrieve behaviour");
    switch (type) {
    case UserType::UserShow:
        return d->userShow(result, queryId, args, behavior);
    case UserType::FriendsList:
        return d->friendsList(result, queryId, args, behavior);
    case UserType::ProfileImage:
    case UserType::Avatar:
        return d->avatar(result, queryId, type, args, behavior);
    default:
        return refuse(Q_FUNC_INFO, queryId, RETRIEVE_NOT_AVAILABLE, "user resource not offered by this client");
    }
}

int TwitterPrivate::userShow(QVariantList *result, int *queryId, const QMap<QString, QString> &args,
                             Twitter::RetrieveBehavior behavior)
{
    const QString screenName = args.value(QStringLiteral("screen_name")).toLower();
    if (screenName.isEmpty())
        return refuse(Q_FUNC_INFO, queryId, Twitter::RETRIEVE_BAD_REQUEST, "a user is asked for by screen_name");
    const QString key = QStringLiteral("user/") + screenName;
    if (behavior == Twitter::RETRIEVE_FROM_CACHE) {
        const QVariant user = cache.response(key);
        if (result)
            *result = user.type() == QVariant::Map ? QVariantList{user} : QVariantList();
        return started(queryId, nextQueryId());
    }
    const int id = fetch(UserShowEndpoint, args, [this, key](int queryId, const QVariant &body) {
        if (body.type() != QVariant::Map)
            return QStringLiteral("not an object");
        cache.storeResponse(key, body);
        emit q->userUpdated(UserType::UserShow, {body}, queryId);
        return QString();
    });
    return TwitterPrivate::started(queryId, id);
}

// From the network one page: the page's map is the answer's one element. From the cache
// the friends of the last complete paging, as a list of users.
int TwitterPrivate::friendsList(QVariantList *result, int *queryId, const QMap<QString, QString> &args,
                                Twitter::RetrieveBehavior behavior)
{
    const QString owner = args.value(QStringLiteral("screen_name")).toLower();
    if (behavior == Twitter::RETRIEVE_FROM_CACHE) {
        if (result)
            *result = cache.response(QStringLiteral("friends/") + owner).toList();
        return started(queryId, nextQueryId());
    }
    const QString cursor = args.value(QStringLiteral("cursor"));
    const int id = fetch(FriendsListEndpoint, args, [this, owner, cursor](int queryId, const QVariant &body) {
        const QVariantMap page = body.toMap();
        if (body.type() != QVariant::Map || !isListOfObjects(page.value(QStringLiteral("users"))))
            return QStringLiteral("not a page of users");
        collectFriends(owner, cursor, page);
        emit q->userUpdated(UserType::FriendsList, {page}, queryId);
        return QString();
    });
    return TwitterPrivate::started(queryId, id);
}

int TwitterPrivate::avatar(QVariantList *result, int *queryId, UserType::UserType type,
                           const QMap<QString, QString> &args, Twitter::RetrieveBehavior behavior)
{
    const QString screenName = args.value(QStringLiteral("screen_name")).toLower();
    const QString size = args.value(QStringLiteral("size"), QStringLiteral("bigger"));
    const QString url = args.value(QStringLiteral("url"));
    if (screenName.isEmpty())
        return refuse(Q_FUNC_INFO, queryId, Twitter::RETRIEVE_BAD_REQUEST, "an avatar is asked for by screen_name");
    const QString key = screenName + QLatin1Char('/') + size;
    if (behavior == Twitter::RETRIEVE_FROM_CACHE) {
        if (result)
            *result = {cachedAvatar(key, url)};
        return started(queryId, nextQueryId());
    }
    if (!isHttpUrl(QUrl(url)))
        return refuse(Q_FUNC_INFO, queryId, Twitter::RETRIEVE_BAD_REQUEST, "an avatar needs the http(s) url of the picture");
    const QString path = cache.picturePath(QStringLiteral("avatars"), key) + AvatarExtension;
    const QImage currentMask = mask;
    const int id = fetchPicture(
        QUrl(url),
        [currentMask, size, url, path](const QByteArray &data) { return makeAvatar(data, currentMask, size, url, path); },
        [this, type](int queryId, const QString &written) { emit q->userUpdated(type, {written}, queryId); });
    return TwitterPrivate::started(queryId, id);
}

int Twitter::retrieveHelp(const HelpType::HelpType &type, QMap<QString, QVariant> *result,
                          const QMap<QString, QString> &args, int *queryId, RetrieveBehavior behavior)
{
    if (!TwitterPrivate::knownBehavior(behavior))
        return refuse(Q_FUNC_INFO, queryId, RETRIEVE_BAD_REQUEST, "unknown retrieve behaviour");
    if (type != HelpType::Configuration)
        return refuse(Q_FUNC_INFO, queryId, RETRIEVE_NOT_AVAILABLE, "help type not offered by this client");
    const QString key = QStringLiteral("help/configuration");
    if (behavior == RETRIEVE_FROM_CACHE) {
        if (result)
            *result = d->cache.response(key).toMap();
        return TwitterPrivate::started(queryId, TwitterPrivate::nextQueryId());
    }
    const int id = d->fetch(HelpConfigurationEndpoint, args, [this, key, args, type](int queryId, const QVariant &body) {
        if (body.type() != QVariant::Map)
            return QStringLiteral("not an object");
        QVariantMap configuration = body.toMap();
        configuration.insert(LastUpdateTime, QDateTime::currentDateTime().toString(Qt::ISODate));
        d->cache.storeResponse(key, configuration);
        emit helpRetrieved(type, {configuration}, args, queryId);
        return QString();
    });
    return TwitterPrivate::started(queryId, id);
}

int Twitter::retrieveTinyUrlImage(const QMap<QString, QString> &args, QString *file, int *queryId)
{
    const QUrl link(args.value(QStringLiteral("image_url")));
    if (!isHttpUrl(link))
        return refuse(Q_FUNC_INFO, queryId, RETRIEVE_BAD_REQUEST, "image_url is not an http(s) address");
    const bool asIs = args.value(QStringLiteral("direct_url")) == QLatin1String("1")
        || args.value(QStringLiteral("as_thumb")) != QLatin1String("1");
    const QUrl source = asIs ? link : TwPictures::thumbnailSource(link);
    const QString imageId = args.value(QStringLiteral("image_id"));
    const QString key = imageId.isEmpty() ? source.toString() : QStringLiteral("media/") + imageId;
    const QString cached = d->cache.existingPicture(QStringLiteral("thumbnails"), key, TwPictures::thumbnailExtensions());
    if (file)
        *file = cached;
    if (!cached.isEmpty()) {
        return TwitterPrivate::started(queryId, TwitterPrivate::nextQueryId());
    }
    const QString basePath = d->cache.picturePath(QStringLiteral("thumbnails"), key);
    const int id = d->fetchPicture(
        source, [basePath](const QByteArray &data) { return makeThumbnail(data, basePath); },
        [this](int queryId, const QString &path) { emit tinyUrlImageLoaded(path, queryId); });
    return TwitterPrivate::started(queryId, id);
}

QDateTime Twitter::serviceTime() const
{
    return d->connection->serverTime();
}

void Twitter::deleteOldStuff()
{
    d->cache.removeOlderThan(CacheDays);
}

void Twitter::deleteCache()
{
    d->cache.removeAll();
    d->friendsPaging.clear();
}

}
