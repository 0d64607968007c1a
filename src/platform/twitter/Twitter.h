// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "TwTypes.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QScopedPointer>
#include <QSet>
#include <QString>
#include <QVariant>

namespace Tw {

class TwitterPrivate;

// Client of the Twitter service for one logged-in account. Requests either answer at
// once from the client's cache (RETRIEVE_FROM_CACHE) or go to the network and answer
// later by a result signal carrying the query id written through the request's
// queryId argument (RETRIEVE_FROM_NETWORK). Failures come as networkRequestError.
//
// The network side lives in a separate library (the real client, or a test double);
// the value utilities below are shared by both.
class Twitter : public QObject
{
    Q_OBJECT

public:
    enum RetrieveBehavior {
        RETRIEVE_FROM_CACHE = 0,
        RETRIEVE_FROM_NETWORK = 1
    };
    Q_ENUM(RetrieveBehavior)

    enum RetrieveStatus {
        RETRIEVE_FAILED = 0,
        RETRIEVE_BAD_REQUEST = 1,
        RETRIEVE_NOT_AVAILABLE = 2,
        RETRIEVE_OK = 3
    };
    Q_ENUM(RetrieveStatus)

    // A person's screen name, in the service's records and in the requests' arguments.
    static constexpr const char *ScreenNameKey = "screen_name";
    static QString screenName(const QVariantMap &person);

    // Friends come in pages, each naming the cursor of the next; a paging starts here.
    static constexpr const char *FirstCursor = "-1";
    // The cursor that a friends paging which has asked for the cursors in asked goes on to
    // after this page, or an empty text where the paging ends: at the last page; and, with
    // *oddEnd saying why, at a page without a cursor, at a cursor asked for before (a
    // service going round in a circle) or after the pages that hold the service's largest
    // following (cursors that never end). What arrived then counts as the friends.
    static QString nextFriendsCursor(const QVariantMap &page, const QSet<QString> &asked, QString *oddEnd = nullptr);

    // In networkRequestError's map of a request the service's rate limit refused: the
    // milliseconds until the endpoint's window resets and the request may be made again.
    static constexpr const char *RetryAfterKey = "retry_after_ms";

    Twitter(const QString &token, const QString &tokenSecret, const QString &userId,
            const QString &screenName, const QString &consumerKey,
            const QString &consumerSecret, QObject *parent = nullptr);
    ~Twitter() override;

    bool init();
    void setMask(const QImage &mask);

    int retrieveTimelineResources(QList<QVariant> *result, int *queryId,
                                  const TimelineType::TimelineType &type,
                                  const QMap<QString, QString> &args, RetrieveBehavior behavior);
    int retrieveUserResources(QList<QVariant> *result, int *queryId, const UserType::UserType &type,
                              const QMap<QString, QString> &args, RetrieveBehavior behavior);
    int retrieveDirectMessages(QList<QVariant> *result, int *queryId,
                               const DirectMessageType::DirectMessageType &type,
                               const QMap<QString, QString> &args, RetrieveBehavior behavior);
    int retrieveHelp(const HelpType::HelpType &type, QMap<QString, QVariant> *result,
                     const QMap<QString, QString> &args, int *queryId, RetrieveBehavior behavior);
    int retrieveTinyUrlImage(const QMap<QString, QString> &args, QString *file, int *queryId);

    // Drops cached responses and images that are no longer useful.
    void deleteOldStuff();
    // Drops the whole cache of this account.
    void deleteCache();

    // Below, at or above 0 as id a is older than, equal to or newer than id b. Ids are
    // decimal texts without leading zeros: the longer is newer, else the lexically greater.
    static int compareIds(const QString &a, const QString &b);
    // When the service made the item of an id: its ids carry the milliseconds since the
    // service's epoch in their upper bits. Invalid for a text that is no such id.
    static QDateTime idTime(const QString &id);
    // The service's time now, by the Date of its latest answer and the time passed since;
    // invalid until an answer has told it. The device's clock may be wrong, this one not.
    QDateTime serviceTime() const;
    // Reads the service's date form ("Sun Dec 06 05:40:12 +0000 2026"); the result is in
    // UTC when utc is set, in local time otherwise. An unreadable text gives an invalid value.
    static QDateTime convertDateTime(const QString &text, bool utc);
    // True when a link names an image file, or a picture page of pictureHosts(), that the
    // client can turn into a thumbnail.
    static bool imageTypeSupported(const QString &url);
    // Photo-sharing sites whose picture pages have a thumbnail address the client knows.
    static QStringList pictureHosts();
    // The format of a picture told by its first bytes: "jpeg", "png", "gif" or "tiff";
    // empty for anything else. Asking Qt instead would load every image plugin to probe
    // the bytes, the SVG one with QtSvg and QtWidgets.
    static QByteArray pictureFormat(const QByteArray &head);

Q_SIGNALS:
    void timelineUpdated(TimelineType::TimelineType type, QVariantList data, int queryId);
    void userUpdated(UserType::UserType type, QVariantList data, int queryId);
    void directMessageUpdated(DirectMessageType::DirectMessageType type, QVariantList data,
                              int queryId);
    void helpRetrieved(HelpType::HelpType type, QVariantList data, QMap<QString, QString> args,
                       int queryId);
    void tinyUrlImageLoaded(QString fileUrl, int queryId);
    void networkRequestError(int queryId, QVariantMap error);

private:
    QScopedPointer<TwitterPrivate> d;
};

}
