// SPDX-License-Identifier: BSD-3-Clause
#include "NotificationHandler.h"

#include "NotificationStore.h"
#include "ONotification.h"
#include "ONotificationGroup.h"
#include "ORemoteAction.h"
#include "TweetMarkup.h"
#include "Twitter.h"
#include "TwitterDaemon.h"
#include "TwitterOstra.h"

#include <QDebug>

#include <utility>

namespace {

const QString NamesSeparator = QStringLiteral(", ");
const QString Image = QStringLiteral("icon-s-conversation-twitter");

QString field(const QVariantMap &map, const QString &key)
{
    return map.value(key).toString();
}

// The platform shows summaries and bodies as markup: the service's text keeps its
// entities, and no text of it becomes a tag.
QString markupField(const QVariantMap &map, const QString &key)
{
    return EventFeed::escapedText(field(map, key));
}

// The items newer than the last-seen marker: a service may ignore since_id, and what is
// not newer has been notified (or passed over) already.
QVariantList newerThan(const QVariantList &items, const QString &marker, bool warn = true)
{
    if (marker.isEmpty())
        return items;
    QVariantList newer;
    for (const QVariant &item : items) {
        if (Tw::Twitter::compareIds(field(item.toMap(), QStringLiteral("id")), marker) > 0)
            newer.append(item);
    }
    if (warn && newer.size() < items.size())
        qWarning() << Q_FUNC_INFO << items.size() - newer.size() << "results not newer than" << marker << "dropped";
    return newer;
}

// Withdraws and deletes the entries of an event type, or all of them for an empty one.
template<typename T>
void withdraw(QList<T *> &shown, const QString &eventType)
{
    for (auto it = shown.begin(); it != shown.end();) {
        if (eventType.isEmpty() || (*it)->eventType() == eventType) {
            (*it)->remove();
            delete *it;
            it = shown.erase(it);
        } else {
            ++it;
        }
    }
}

ORemoteAction openMention(const QVariantMap &mention)
{
    return ORemoteAction(QStringLiteral("com.halvex.twitter.openmentiontw"), QStringLiteral("/OpenMention"),
                         QStringLiteral("com.halvex.twitter.openmentiontw"), QStringLiteral("showMention"),
                         {field(mention, QStringLiteral("id"))});
}

ORemoteAction openMentions(const QVariantMap &)
{
    return ORemoteAction(QStringLiteral("com.halvex.twitter.openmentionstw"), QStringLiteral("/OpenMentions"),
                         QStringLiteral("com.halvex.twitter.openmentionstw"), QStringLiteral("showMentions"));
}

ORemoteAction openMessage(const QVariantMap &message)
{
    return ORemoteAction(QStringLiteral("com.halvex.twitter.openmsgtw"), QStringLiteral("/OpenMsg"),
                         QStringLiteral("com.halvex.twitter.openmsgtw"), QStringLiteral("showMessage"),
                         {field(message.value(QStringLiteral("sender")).toMap(), QStringLiteral("screen_name")),
                          field(message, QStringLiteral("id"))});
}

ORemoteAction openMessages(const QVariantMap &)
{
    return ORemoteAction(QStringLiteral("com.halvex.twitter.openmsgstw"), QStringLiteral("/OpenMsgs"),
                         QStringLiteral("com.halvex.twitter.openmsgstw"), QStringLiteral("showDirectMessages"));
}

}

// What tells mention notifications from direct-message ones.
struct NotificationHandler::Kind
{
    QString eventType;
    QString authorKey;
    const char *bannerId;
    const char *textId;
    ORemoteAction (*oneItemAction)(const QVariantMap &item);
    ORemoteAction (*severalItemsAction)(const QVariantMap &item);
    // The notification's plural number: the group's total, or this call's items.
    bool pluralByTotal;
};

const NotificationHandler::Kind NotificationHandler::Messages = {
    TwitterOstra::MessageEventType, QStringLiteral("sender"), "qtn_twit_new_message_banner",
    "qtn_twit_new_message", openMessage, openMessages, false};
const NotificationHandler::Kind NotificationHandler::Mentions = {
    TwitterOstra::MentionEventType, QStringLiteral("user"), "qtn_twit_new_mention_banner",
    "qtn_twit_new_mention", openMention, openMentions, true};

NotificationHandler::NotificationHandler(QObject *parent)
    : QObject(parent)
    , mStore(new NotificationStore(this))
    , mClient(nullptr)
    , mEnabledTypes(0)
    , mSilent(false)
    , mMessagesQueryId(-1)
    , mMentionsQueryId(-1)
{
}

NotificationHandler::~NotificationHandler()
{
    // Only the local copies: what is shown stays shown.
    qDeleteAll(mShownNotifications);
    qDeleteAll(mShownGroups);
}

TwitterDaemon *NotificationHandler::daemon() const
{
    return static_cast<TwitterDaemon *>(parent());
}

void NotificationHandler::init(Tw::Twitter *client)
{
    qDebug() << Q_FUNC_INFO;
    mClient = client;
    connect(client, &Tw::Twitter::directMessageUpdated, this, &NotificationHandler::onDirectMessageUpdated);
    connect(client, &Tw::Twitter::timelineUpdated, this, &NotificationHandler::onTimelineUpdated);
}

void NotificationHandler::setNotificationEnabled(quint32 type, bool enabled)
{
    if (enabled) {
        mEnabledTypes |= type;
        return;
    }
    mEnabledTypes &= ~type;
    if (type == TYPE_MESSAGES) {
        clear(TwitterOstra::MessageEventType, true);
    } else if (type == TYPE_MENTIONS) {
        releaseHeldMentions(false);
        clear(TwitterOstra::MentionEventType, true);
    }
}

// The lists are reloaded first: what the latest result published is not in them yet,
// and would stay shown after the user switched notifications off.
void NotificationHandler::disableNotifications()
{
    mEnabledTypes = 0;
    releaseHeldMentions(false);
    clear(QString(), true);
}

void NotificationHandler::setSilent(bool silent)
{
    qDebug() << Q_FUNC_INFO << silent;
    mSilent = silent;
    if (silent)
        releaseHeldMentions(true);
}

// The held mentions let go, decided or no longer to be shown. record: their id is
// recorded (shown, or passed over for good while silent); else they come again with the
// next poll (their kind off, as mentions that come while it is off; or not shown).
void NotificationHandler::releaseHeldMentions(bool record)
{
    mPendingMentions.clear();
    mHeldSince.invalidate();
    if (record)
        recordNewestMention();
    else
        mUnrecordedMentions.clear();
}

bool NotificationHandler::isSilent() const
{
    return mSilent;
}

// A new poll starts over: what an earlier one gathered has not been notified nor recorded,
// and comes again.
void NotificationHandler::setMessagesQueryId(int queryId)
{
    mMessagesQueryId = queryId;
    mMessagesPoll = PollPages();
}

void NotificationHandler::setMentionsQueryId(int queryId)
{
    mMentionsQueryId = queryId;
    mMentionsPoll = PollPages();
}

// A full page whose items are all newer than the marker may have more news behind it,
// which would be lost once the marker moves past them: the poll pages back, since the
// marker and up to the oldest item so far, until the gap closes.
bool NotificationHandler::pollComplete(PollPages &poll, int &queryId, const QVariantList &data, const QString &marker,
                                       const QString &eventType, bool pageBack)
{
    const int asked = poll.pages == 0 ? TwitterOstra::PollPageSize : TwitterOstra::OlderPollPageSize;
    const int before = poll.items.size();
    poll.items = joined(poll.items, data);
    ++poll.pages;
    const bool full = data.size() >= asked && poll.items.size() == before + data.size()
        && newerThan(data, marker, false).size() == data.size();
    if (!pageBack || marker.isEmpty() || !full)
        return true;
    const QString maxId = oldestId(data);
    if (poll.pages >= TwitterOstra::MaxPollPages || maxId.isEmpty()) {
        qWarning() << Q_FUNC_INFO << eventType << "still a full page after" << poll.pages
                   << "pages; what is older is passed over";
        return true;
    }
    const int older = daemon()->retrieveOlder(eventType, maxId);
    if (older == -1)
        qWarning() << Q_FUNC_INFO << eventType << "the older page could not be asked for; the next poll brings all again";
    queryId = older;
    return false;
}

// The id just below the oldest item's, as the service's max_id takes it; empty when an id
// is not a number.
QString NotificationHandler::oldestId(const QVariantList &items)
{
    quint64 oldest = 0;
    for (const QVariant &item : items) {
        bool ok = false;
        const quint64 id = field(item.toMap(), QStringLiteral("id")).toULongLong(&ok);
        if (!ok || id == 0)
            return QString();
        oldest = oldest == 0 ? id : qMin(oldest, id);
    }
    return oldest > 1 ? QString::number(oldest - 1) : QString();
}

void NotificationHandler::refreshNotifications()
{
    qDeleteAll(mShownNotifications);
    mShownNotifications = ONotification::notifications(mStore);
    qDeleteAll(mShownGroups);
    mShownGroups = ONotificationGroup::notificationGroups(mStore);
}

void NotificationHandler::clear(const QString &eventType, bool refresh)
{
    qDebug() << Q_FUNC_INFO << eventType << refresh;
    if (refresh)
        refreshNotifications();
    withdraw(mShownNotifications, eventType);
    withdraw(mShownGroups, eventType);
}

ONotificationGroup *NotificationHandler::findGroup(const QString &eventType)
{
    for (ONotificationGroup *group : qAsConst(mShownGroups)) {
        if (group->eventType() == eventType)
            return group;
    }
    return nullptr;
}

void NotificationHandler::handleLastId(const QString &eventType, const QVariantList &data)
{
    qDebug() << Q_FUNC_INFO << data.size();
    if (data.isEmpty())
        return;
    // Results come newest first.
    const QString id = field(data.first().toMap(), QStringLiteral("id"));
    if (eventType == TwitterOstra::MessageEventType)
        emit lastIdMessagesUpdated(id);
    else if (eventType == TwitterOstra::MentionEventType)
        emit lastIdMentionsUpdated(id);
}

void NotificationHandler::onDirectMessageUpdated(DirectMessageType::DirectMessageType type, QVariantList data,
                                                 int queryId)
{
    qDebug() << Q_FUNC_INFO << int(type) << data.size() << queryId;
    if (queryId != mMessagesQueryId) {
        qDebug() << Q_FUNC_INFO << "improper queryId";
        return;
    }
    qDebug() << Q_FUNC_INFO << "proper queryId";
    // Nothing is shown before an id is stored: the first results after installation
    // are old news.
    const QString marker = daemon()->lastIdMessages();
    if (!pollComplete(mMessagesPoll, mMessagesQueryId, data, marker, TwitterOstra::MessageEventType,
                      !mSilent && (mEnabledTypes & TYPE_MESSAGES)))
        return;
    const QVariantList polled = std::exchange(mMessagesPoll, PollPages()).items;
    const QVariantList newer = newerThan(polled, marker);
    bool shown = true;
    if (!mSilent && !newer.isEmpty() && !marker.isEmpty()) {
        refreshNotifications();
        if (mEnabledTypes & TYPE_MESSAGES)
            shown = processMessages(newer);
    }
    // What could not be shown comes again with the next poll.
    if (shown)
        handleLastId(TwitterOstra::MessageEventType, polled);
}

void NotificationHandler::onTimelineUpdated(TimelineType::TimelineType timelineType, QVariantList data, int queryId)
{
    if (queryId != mMentionsQueryId) {
        qDebug() << Q_FUNC_INFO << "improper queryId";
        return;
    }
    qDebug() << Q_FUNC_INFO << "proper queryId";
    // An empty older page closes the gap of the pages before it.
    if (timelineType != TimelineType::MentionsTimeline || (data.isEmpty() && mMentionsPoll.pages == 0))
        return;
    const QString marker = daemon()->lastIdMentions();
    if (marker.isEmpty()) {
        handleLastId(TwitterOstra::MentionEventType, data);
        return;
    }
    if (!pollComplete(mMentionsPoll, mMentionsQueryId, data, marker, TwitterOstra::MentionEventType,
                      !mSilent && (mEnabledTypes & TYPE_MENTIONS)))
        return;
    const QVariantList newer = newerThan(std::exchange(mMentionsPoll, PollPages()).items, marker);
    if (newer.isEmpty())
        return;
    refreshNotifications();
    // With mentions off the id stays, so that they are shown once switched on again.
    if (mEnabledTypes & TYPE_MENTIONS)
        handleMentionsRetweets(newer);
}

bool NotificationHandler::processMessages(const QVariantList &messages)
{
    qDebug() << Q_FUNC_INFO << messages.size();
    return notify(messages, Messages);
}

bool NotificationHandler::processMentions(const QVariantList &mentions)
{
    qDebug() << Q_FUNC_INFO << mentions.size();
    return notify(mentions, Mentions);
}

// The kind's notifications still shown become one that carries their summed count, so
// that polls with news do not pile them up in the store; the count it returns, the items
// they stand for, is the same.
unsigned int NotificationHandler::foldShown(const Kind &kind)
{
    QList<ONotification *> shown = ONotification::notifications(mStore);
    QList<ONotification *> ofKind;
    unsigned int count = 0;
    for (ONotification *notification : qAsConst(shown)) {
        if (notification->eventType() == kind.eventType) {
            ofKind.append(notification);
            count += notification->count();
        }
    }
    if (ofKind.size() > 1) {
        ONotification *folded = ofKind.takeFirst();
        folded->setCount(count);
        folded->setBody(qtTrId(kind.textId, int(count)));
        if (folded->publish()) {
            for (ONotification *older : qAsConst(ofKind))
                older->remove();
        }
    }
    qDeleteAll(shown);
    return count;
}

// Updates the kind's group with the new items and publishes one notification for them.
// Items still shown from earlier calls count towards the group's total. False when the
// notification system refused them: they were not shown.
bool NotificationHandler::notify(const QVariantList &items, const Kind &kind)
{
    if (items.isEmpty())
        return true;
    const int itemCount = items.size();
    unsigned int total = unsigned(itemCount);
    QStringList names;
    ONotificationGroup *group = findGroup(kind.eventType);
    const bool created = !group;
    if (created) {
        group = new ONotificationGroup(mStore, kind.eventType, QString(), QString());
        group->setCount(0);
    } else {
        // Escaped again: a summary left by an earlier version, or changed in the shared
        // store, must not come back as markup. Escaping escaped names changes nothing.
        for (const QString &name : group->summary().split(NamesSeparator, Qt::SkipEmptyParts))
            names.append(EventFeed::escapedText(name));
    }
    const unsigned int shownCount = foldShown(kind);
    total += shownCount;
    group->setCount(total);

    const QVariantMap newest = items.first().toMap();
    if (total == 1) {
        group->setBody(markupField(newest, QStringLiteral("text")));
        group->setSummary(markupField(newest.value(kind.authorKey).toMap(), QStringLiteral("name")));
        group->setAction(kind.oneItemAction(newest));
    } else {
        group->setBody(qtTrId(kind.bannerId).arg(total));
        for (const QVariant &item : items) {
            const QString name = markupField(item.toMap().value(kind.authorKey).toMap(), QStringLiteral("name"));
            if (!names.contains(name))
                names.append(name);
        }
        if (!names.isEmpty())
            group->setSummary(names.join(NamesSeparator));
        group->setAction(kind.severalItemsAction(newest));
    }
    const bool groupShown = group->publish();

    ONotification notification(mStore, kind.eventType, QString(), QString());
    notification.setBody(qtTrId(kind.textId, kind.pluralByTotal ? int(total) : itemCount));
    notification.setGroup(*group);
    notification.setImage(Image);
    notification.setTimestamp(Tw::Twitter::convertDateTime(field(newest, QStringLiteral("created_at")), false));
    notification.setCount(unsigned(itemCount));
    const bool shown = groupShown && notification.publish();
    if (!shown)
        qWarning() << Q_FUNC_INFO << itemCount << kind.eventType << "items not shown; they come again with the next poll";

    if (created)
        group->deleteLater();
    return shown;
}

void NotificationHandler::handleMentionsRetweets(const QVariantList &mentions)
{
    qDebug() << Q_FUNC_INFO << mentions.size();
    // The newest id is recorded once the mentions are decided: held for a friends fetch,
    // they come again with the next poll should the process end before it.
    mUnrecordedMentions = mentions;
    if (mSilent) {
        recordNewestMention();
        return;
    }
    // Mentions held for a fetch under way stay held, after the newer ones; a poll during
    // the fetch brings them again, since their id is not recorded yet.
    const bool held = !mPendingMentions.isEmpty();
    bool completed = true;
    const QVariantList shown = mEnabledTypes & TYPE_FOLLOWED_ONLY ? filterOnlyFollowed(mentions, completed) : mentions;
    mPendingMentions = joined(shown, mPendingMentions);
    if (!held)
        mHeldSince.start();
    if ((mEnabledTypes & TYPE_FOLLOWED_ONLY) && (!completed || held))
        daemon()->fetchFriends();
    else
        finishHandleMentionsRetweets();
}

QVariantList NotificationHandler::joined(const QVariantList &newer, const QVariantList &held)
{
    QVariantList result = newer;
    QSet<QString> ids;
    for (const QVariant &mention : newer)
        ids.insert(field(mention.toMap(), QStringLiteral("id")));
    for (const QVariant &mention : held) {
        if (!ids.contains(field(mention.toMap(), QStringLiteral("id"))))
            result.append(mention);
    }
    return result;
}

void NotificationHandler::recordNewestMention()
{
    handleLastId(TwitterOstra::MentionEventType, mUnrecordedMentions);
    mUnrecordedMentions.clear();
}

void NotificationHandler::decideHeldMentions()
{
    if (mPendingMentions.isEmpty())
        return;
    qDebug() << Q_FUNC_INFO << mPendingMentions.size();
    if (mEnabledTypes & TYPE_FOLLOWED_ONLY)
        daemon()->fetchFriends();
    else
        finishHandleMentionsRetweets();
}

QVariantList NotificationHandler::filterOnlyFollowed(const QVariantList &mentions, bool &completed)
{
    qDebug() << Q_FUNC_INFO;
    QVariantList result;
    int undecided = 0;
    for (const QVariant &mention : mentions) {
        const QVariantMap user = mention.toMap().value(QStringLiteral("user")).toMap();
        const QVariant following = user.value(QStringLiteral("following"));
        qDebug() << Q_FUNC_INFO << "user:" << user << "following:" << following;
        if (following.toString().isEmpty()) {
            qDebug() << Q_FUNC_INFO << "val null";
            result.append(mention);
            ++undecided;
        } else if (following.toBool()) {
            qDebug() << Q_FUNC_INFO << "followed";
            result.append(mention);
        }
    }
    completed = undecided == 0;
    qDebug() << Q_FUNC_INFO << "completed filtering:" << completed;
    return result;
}

void NotificationHandler::finishHandleMentionsRetweets()
{
    const QStringList friends = daemon()->friendScreenNames();
    QVariantList kept;
    for (const QVariant &mention : qAsConst(mPendingMentions)) {
        const QVariantMap user = mention.toMap().value(QStringLiteral("user")).toMap();
        const QString screenName = field(user, QStringLiteral("screen_name"));
        // A "following" given by the service decided already; the friends list, which
        // may be stale or not fetched yet, decides only where it was missing.
        const bool followed = user.value(QStringLiteral("following")).toString() == QLatin1String("true");
        if ((mEnabledTypes & TYPE_FOLLOWED_ONLY) && !followed) {
            qDebug() << Q_FUNC_INFO << "friends:" << friends << "test against:" << screenName;
            if (!friends.contains(screenName))
                continue;
        }
        kept.append(mention);
    }
    for (const QVariant &mention : qAsConst(kept))
        qDebug() << Q_FUNC_INFO << field(mention.toMap(), QStringLiteral("id")) << field(mention.toMap(), QStringLiteral("text"));
    releaseHeldMentions(processMentions(kept));
}
