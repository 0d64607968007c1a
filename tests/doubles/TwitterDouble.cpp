// SPDX-License-Identifier: BSD-3-Clause
#include "TwitterDouble.h"

#include <QTimer>
#include <QUrl>

namespace {

struct Script
{
    QMap<QPair<int, int>, QList<TwitterDouble::Answer>> queued;
    QMap<QPair<int, int>, TwitterDouble::Answer> defaults;
    QMap<QPair<int, int>, TwitterDouble::Responder> responders;
    QList<TwitterDouble::Request> requests;
    QPointer<Tw::Twitter> latestClient;
    QImage latestMask;
    int nextQueryId = 1;
    int deleteOldStuffCalls = 0;
    int deleteCacheCalls = 0;
    // No service answers the double: its time is never told.
    QDateTime serviceTime;
};

Script &script()
{
    static Script instance;
    return instance;
}

// As the real client, a picture is fetched only from an http(s) address, and anything else
// is refused at once without a query id.
bool refusedPicture(TwitterDouble::Operation operation, int type, const QMap<QString, QString> &args, int behavior)
{
    QString address;
    if (operation == TwitterDouble::TinyUrlImage)
        address = args.value(QStringLiteral("image_url"));
    else if (operation == TwitterDouble::User && (type == UserType::Avatar || type == UserType::ProfileImage)
             && behavior == Tw::Twitter::RETRIEVE_FROM_NETWORK)
        address = args.value(QStringLiteral("url"));
    else
        return false;
    const QString scheme = QUrl(address).scheme();
    return scheme != QLatin1String("http") && scheme != QLatin1String("https");
}

TwitterDouble::Answer takeAnswer(const TwitterDouble::Request &request)
{
    const QPair<int, int> key(request.operation, request.type);
    QList<TwitterDouble::Answer> &queue = script().queued[key];
    if (!queue.isEmpty())
        return queue.takeFirst();
    if (script().responders.contains(key))
        return script().responders.value(key)(request);
    return script().defaults.value(key);
}

}

namespace TwitterDouble {

Answer later(const QVariantList &data)
{
    Answer answer;
    answer.later = Answer::Result;
    answer.laterData = data;
    return answer;
}

void enqueue(Operation operation, int type, const Answer &answer)
{
    script().queued[qMakePair(int(operation), type)].append(answer);
}

void setDefault(Operation operation, int type, const Answer &answer)
{
    script().defaults.insert(qMakePair(int(operation), type), answer);
}

void setResponder(Operation operation, int type, const Responder &responder)
{
    script().responders.insert(qMakePair(int(operation), type), responder);
}

QList<Request> requests()
{
    return script().requests;
}

QList<Request> requests(Operation operation, int type)
{
    QList<Request> matching;
    for (const Request &request : qAsConst(script().requests)) {
        if (request.operation == operation && request.type == type)
            matching.append(request);
    }
    return matching;
}

QList<Request> networkRequests(Operation operation, int type)
{
    QList<Request> network;
    for (const Request &request : requests(operation, type)) {
        if (request.behavior == Tw::Twitter::RETRIEVE_FROM_NETWORK)
            network.append(request);
    }
    return network;
}

Tw::Twitter *latestClient()
{
    return script().latestClient;
}

QImage latestMask()
{
    return script().latestMask;
}

int deleteOldStuffCalls()
{
    return script().deleteOldStuffCalls;
}

int deleteCacheCalls()
{
    return script().deleteCacheCalls;
}

void reset()
{
    const int nextQueryId = script().nextQueryId;
    script() = Script();
    // Query ids stay unique for the life of the process, as the real client's do.
    script().nextQueryId = nextQueryId;
}

}

namespace Tw {

class TwitterPrivate
{
public:
    explicit TwitterPrivate(Twitter *client)
        : q(client)
    {
    }

    // Records the request and plays its scripted answer.
    int play(TwitterDouble::Operation operation, int type, const QMap<QString, QString> &args,
             int behavior, int *queryId, QVariantList *result, QString *file);

    Twitter *q;
};

int TwitterPrivate::play(TwitterDouble::Operation operation, int type, const QMap<QString, QString> &args,
                         int behavior, int *queryId, QVariantList *result, QString *file)
{
    TwitterDouble::Request request{operation, type, args, behavior, -1};
    if (refusedPicture(operation, type, args, behavior)) {
        script().requests.append(request);
        if (queryId)
            *queryId = -1;
        return Twitter::RETRIEVE_BAD_REQUEST;
    }
    const TwitterDouble::Answer answer = takeAnswer(request);
    if (answer.writesQueryId) {
        request.queryId = script().nextQueryId++;
        if (queryId)
            *queryId = request.queryId;
    }
    script().requests.append(request);
    if (result)
        *result = answer.cached;
    // As the real client, a cache lookup of an avatar answers one path, empty when missing.
    const bool avatar = operation == TwitterDouble::User && (type == UserType::Avatar || type == UserType::ProfileImage);
    if (result && result->isEmpty() && avatar && behavior == Twitter::RETRIEVE_FROM_CACHE)
        *result = {QString()};
    if (file)
        *file = answer.cachedFile;

    const int id = request.queryId;
    QPointer<Twitter> client(q);
    // Like the real client, a cache lookup answers only through its result list.
    const auto later = behavior == Twitter::RETRIEVE_FROM_CACHE ? TwitterDouble::Answer::Nothing : answer.later;
    switch (later) {
    case TwitterDouble::Answer::Nothing:
        break;
    case TwitterDouble::Answer::NetworkError:
        QTimer::singleShot(0, q, [client, id, answer] {
            emit client->networkRequestError(id, answer.laterError);
        });
        break;
    case TwitterDouble::Answer::Result:
        QTimer::singleShot(0, q, [client, id, answer, operation, type, args] {
            switch (operation) {
            case TwitterDouble::Timeline:
                emit client->timelineUpdated(TimelineType::TimelineType(type), answer.laterData, id);
                break;
            case TwitterDouble::User:
                emit client->userUpdated(UserType::UserType(type), answer.laterData, id);
                break;
            case TwitterDouble::DirectMessages:
                emit client->directMessageUpdated(DirectMessageType::DirectMessageType(type),
                                                  answer.laterData, id);
                break;
            case TwitterDouble::Help:
                emit client->helpRetrieved(HelpType::HelpType(type), answer.laterData, args, id);
                break;
            case TwitterDouble::TinyUrlImage:
                emit client->tinyUrlImageLoaded(answer.laterFile, id);
                break;
            }
        });
        break;
    }
    return answer.status;
}

Twitter::Twitter(const QString &, const QString &, const QString &, const QString &,
                 const QString &, const QString &, QObject *parent)
    : QObject(parent)
    , d(new TwitterPrivate(this))
{
    registerMetaTypes();
    script().latestClient = this;
}

Twitter::~Twitter() = default;

bool Twitter::init()
{
    return true;
}

void Twitter::setMask(const QImage &mask)
{
    script().latestMask = mask;
}

int Twitter::retrieveTimelineResources(QList<QVariant> *result, int *queryId,
                                       const TimelineType::TimelineType &type,
                                       const QMap<QString, QString> &args, RetrieveBehavior behavior)
{
    return d->play(TwitterDouble::Timeline, type, args, behavior, queryId, result, nullptr);
}

int Twitter::retrieveUserResources(QList<QVariant> *result, int *queryId, const UserType::UserType &type,
                                   const QMap<QString, QString> &args, RetrieveBehavior behavior)
{
    return d->play(TwitterDouble::User, type, args, behavior, queryId, result, nullptr);
}

int Twitter::retrieveDirectMessages(QList<QVariant> *result, int *queryId,
                                    const DirectMessageType::DirectMessageType &type,
                                    const QMap<QString, QString> &args, RetrieveBehavior behavior)
{
    return d->play(TwitterDouble::DirectMessages, type, args, behavior, queryId, result, nullptr);
}

int Twitter::retrieveHelp(const HelpType::HelpType &type, QMap<QString, QVariant> *result,
                          const QMap<QString, QString> &args, int *queryId, RetrieveBehavior behavior)
{
    QVariantList cached;
    const int status = d->play(TwitterDouble::Help, type, args, behavior, queryId, &cached, nullptr);
    if (result && !cached.isEmpty())
        *result = cached.first().toMap();
    return status;
}

int Twitter::retrieveTinyUrlImage(const QMap<QString, QString> &args, QString *file, int *queryId)
{
    return d->play(TwitterDouble::TinyUrlImage, 0, args, RETRIEVE_FROM_NETWORK, queryId, nullptr, file);
}

QDateTime Twitter::serviceTime() const
{
    return script().serviceTime;
}

void Twitter::deleteOldStuff()
{
    ++script().deleteOldStuffCalls;
}

void Twitter::deleteCache()
{
    ++script().deleteCacheCalls;
}

}
