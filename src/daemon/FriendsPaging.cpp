// SPDX-License-Identifier: BSD-3-Clause
#include "FriendsPaging.h"

#include "Twitter.h"

#include <QDebug>
#include <QTimer>

namespace {

// Pages of the service's largest size: of its default 20, a following of more than 300
// would not fit one rate-limit window, and the paging would take hours.
const QString PageSize = QStringLiteral("200");
const int TooManyRequests = 429;
// The service's rate-limit window, for a refusal that does not tell when it ends.
const qint64 RateWindowMs = 15 * 60 * 1000;
const qint64 MaxResumeWaitMs = 60 * 60 * 1000;
// The client lets go of its own hold at the reset; this much later the page is asked again.
const qint64 ResumeMarginMs = 50;

}

FriendsPaging::FriendsPaging(const QString &name, QObject *parent)
    : QObject(parent)
    , mQueryId(-1)
    , mResumeTimer(new QTimer(this))
{
    setObjectName(name);
    mResumeTimer->setObjectName(name + QStringLiteral("ResumeTimer"));
    mResumeTimer->setSingleShot(true);
    // A coarse timer may fire before the window has reset, only to be refused again.
    mResumeTimer->setTimerType(Qt::PreciseTimer);
    connect(mResumeTimer, &QTimer::timeout, this, &FriendsPaging::resume);
}

void FriendsPaging::start(Tw::Twitter *client, const QString &screenName)
{
    stop();
    mClient = client;
    mScreenName = screenName;
    mCursors = {QString::fromLatin1(Tw::Twitter::FirstCursor)};
    requestPage(QString::fromLatin1(Tw::Twitter::FirstCursor));
}

void FriendsPaging::stop()
{
    mQueryId = -1;
    mResumeTimer->stop();
    mClient = nullptr;
}

bool FriendsPaging::isActive() const
{
    return mQueryId != -1 || mResumeTimer->isActive();
}

void FriendsPaging::takePage(const UserType::UserType &type, const QVariantList &data, int queryId)
{
    if (type != UserType::FriendsList || queryId == -1 || queryId != mQueryId)
        return;
    mQueryId = -1;
    const QVariantMap answer = data.value(0).toMap();
    const QVariantList users = answer.value(QStringLiteral("users")).toList();
    qDebug() << Q_FUNC_INFO << objectName() << "Got friends" << users.size();
    const bool first = mCursors.size() == 1;
    QString oddEnd;
    const QString next = Tw::Twitter::nextFriendsCursor(answer, mCursors, &oddEnd);
    if (!oddEnd.isEmpty())
        qWarning() << Q_FUNC_INFO << objectName() << oddEnd;
    emit page(users, first);
    // The page's receiver may have stopped or started this paging anew.
    if (mQueryId != -1 || !mClient)
        return;
    if (next.isEmpty()) {
        emit finished();
        return;
    }
    qDebug() << Q_FUNC_INFO << objectName() << "Query more friends";
    mCursors.insert(next);
    requestPage(next);
}

bool FriendsPaging::takeError(int queryId, const QVariantMap &error)
{
    if (queryId == -1 || queryId != mQueryId)
        return false;
    mQueryId = -1;
    emit failed(rateLimitWait(error));
    return true;
}

void FriendsPaging::resumeAfter(qint64 wait)
{
    qWarning() << Q_FUNC_INFO << objectName() << "friends page held by the rate limit; asked again in" << wait << "ms";
    if (!mResumeTimer->isActive() || mResumeTimer->remainingTime() < wait)
        mResumeTimer->start(int(wait));
}

// The window has reset: the refused page is asked for again.
void FriendsPaging::resume()
{
    qDebug() << Q_FUNC_INFO << objectName() << mCursor;
    requestPage(mCursor);
}

void FriendsPaging::requestPage(const QString &cursor)
{
    mCursor = cursor;
    if (!mClient) {
        qCritical() << Q_FUNC_INFO << objectName() << "mTwitter == NULL";
        return;
    }
    const QMap<QString, QString> parameters = {{QStringLiteral("cursor"), cursor},
                                               {QString::fromLatin1(Tw::Twitter::ScreenNameKey), mScreenName},
                                               {QStringLiteral("count"), PageSize}};
    QVariantList unused;
    if (mClient->retrieveUserResources(&unused, &mQueryId, UserType::FriendsList, parameters,
                                       Tw::Twitter::RETRIEVE_FROM_NETWORK)
        != Tw::Twitter::RETRIEVE_OK)
        qCritical() << Q_FUNC_INFO << objectName() << "retrieveUserResources returned != ok";
}

// A page refused by the rate limit may be asked for again once the window resets: the
// wait in milliseconds, or -1 for another failure.
qint64 FriendsPaging::rateLimitWait(const QVariantMap &error)
{
    if (error.value(QStringLiteral("http_status")).toInt() != TooManyRequests)
        return -1;
    bool told = false;
    const qint64 retry = error.value(QLatin1String(Tw::Twitter::RetryAfterKey)).toLongLong(&told);
    return qBound<qint64>(0, told ? retry : RateWindowMs, MaxResumeWaitMs) + ResumeMarginMs;
}
