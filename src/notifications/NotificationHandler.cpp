#include "NotificationHandler.h"

#include "TwitterOstra.h"

#include <QDebug>

NotificationHandler::NotificationHandler(QObject *parent)
    : QObject(parent)
    , mClient(nullptr)
    , mEnabledTypes(0)
    , mSilent(false)
    , mMessagesQueryId(-1)
    , mMentionsQueryId(-1)
{
    connect(parent, SIGNAL(friendsFetched()), this, SLOT(finishHandleMentionsRetweets()));
}

bool NotificationHandler::init(Tw::Twitter *client)
{
    qDebug() << Q_FUNC_INFO;
    mClient = client;
    return true;
}

void NotificationHandler::setNotificationEnabled(quint32 type, bool enabled)
{
    if (enabled) {
        mEnabledTypes |= type;
        return;
    }
    mEnabledTypes &= ~type;
    if (type == TYPE_MESSAGES)
        clear(TwitterOstra::MessageEventType, true);
    else if (type == TYPE_MENTIONS)
        clear(TwitterOstra::MentionEventType, true);
}

void NotificationHandler::disableNotifications()
{
    mEnabledTypes = 0;
    clear(QString(), false);
}

void NotificationHandler::setSilent(bool silent)
{
    qDebug() << Q_FUNC_INFO << silent;
    mSilent = silent;
}

bool NotificationHandler::isSilent() const
{
    return mSilent;
}

void NotificationHandler::clear(const QString &eventType, bool refresh)
{
    qDebug() << Q_FUNC_INFO << eventType << refresh;
}

void NotificationHandler::finishHandleMentionsRetweets()
{
    qDebug() << Q_FUNC_INFO << mPendingMentions.size();
}
