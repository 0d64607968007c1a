// The client library's network side for the running daemon. It answers cache lookups
// from what it holds and refuses network requests: the HTTP transport is still to come.

#include "Twitter.h"

#include <QDebug>

namespace Tw {

class TwitterPrivate
{
public:
    QString token;
    QString tokenSecret;
    QString userId;
    QString screenName;
    QString consumerKey;
    QString consumerSecret;
    QImage mask;
};

namespace {

int refuseNetwork(Twitter::RetrieveBehavior behavior, int *queryId)
{
    if (queryId)
        *queryId = -1;
    if (behavior == Twitter::RETRIEVE_FROM_CACHE)
        return Twitter::RETRIEVE_OK;
    qWarning() << Q_FUNC_INFO << "network requests are not available in this build";
    return Twitter::RETRIEVE_NOT_AVAILABLE;
}

}

Twitter::Twitter(const QString &token, const QString &tokenSecret, const QString &userId,
                 const QString &screenName, const QString &consumerKey,
                 const QString &consumerSecret, QObject *parent)
    : QObject(parent)
    , d(new TwitterPrivate{token, tokenSecret, userId, screenName, consumerKey, consumerSecret, QImage()})
{
    registerMetaTypes();
}

Twitter::~Twitter() = default;

bool Twitter::init()
{
    const bool complete = !d->token.isEmpty() && !d->tokenSecret.isEmpty()
        && !d->consumerKey.isEmpty() && !d->consumerSecret.isEmpty();
    if (!complete)
        qWarning() << Q_FUNC_INFO << "incomplete credentials";
    return complete;
}

void Twitter::setMask(const QImage &mask)
{
    d->mask = mask;
}

int Twitter::retrieveTimelineResources(QList<QVariant> *, int *queryId,
                                       const TimelineType::TimelineType &,
                                       const QMap<QString, QString> &, RetrieveBehavior behavior)
{
    return refuseNetwork(behavior, queryId);
}

int Twitter::retrieveUserResources(QList<QVariant> *, int *queryId, const UserType::UserType &,
                                   const QMap<QString, QString> &, RetrieveBehavior behavior)
{
    return refuseNetwork(behavior, queryId);
}

int Twitter::retrieveDirectMessages(QList<QVariant> *, int *queryId,
                                    const DirectMessageType::DirectMessageType &,
                                    const QMap<QString, QString> &, RetrieveBehavior behavior)
{
    return refuseNetwork(behavior, queryId);
}

int Twitter::retrieveHelp(const HelpType::HelpType &, QMap<QString, QVariant> *,
                          const QMap<QString, QString> &, int *queryId, RetrieveBehavior behavior)
{
    return refuseNetwork(behavior, queryId);
}

int Twitter::retrieveTinyUrlImage(const QMap<QString, QString> &, QString *, int *queryId)
{
    return refuseNetwork(RETRIEVE_FROM_NETWORK, queryId);
}

void Twitter::deleteOldStuff()
{
}

void Twitter::deleteCache()
{
}

}
