// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "TwTypes.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

class QTimer;

namespace Tw {
class Twitter;
}

// One paging through the account's friends, from the first page to the last by the
// client's cursor rule: the page in flight, the cursors asked for, and the wait for the
// rate limit's window when a page is refused. The daemon owns two, the contacts import's
// and the followed-only filter's, which never mix their pages.
class FriendsPaging : public QObject
{
    Q_OBJECT

public:
    // The name tells the paging apart in the log; its resume timer is name + "ResumeTimer".
    FriendsPaging(const QString &name, QObject *parent);

    // Starts anew from the first page, asked of this client for the account's friends.
    void start(Tw::Twitter *client, const QString &screenName);
    // Forgets the paging: its client will answer nothing more.
    void stop();
    // A page is in flight, or waits for the rate limit's window to reset.
    bool isActive() const;
    // The query id of the page in flight; -1 when none.
    int queryId() const { return mQueryId; }
    // Asks again for the refused page once the window has reset, wait ms from now.
    void resumeAfter(qint64 wait);
    // A failed request of the client; false when it was not this paging's page.
    bool takeError(int queryId, const QVariantMap &error);

public Q_SLOTS:
    // An answer of the client; pages of other requests are left alone.
    void takePage(const UserType::UserType &type, const QVariantList &data, int queryId);

Q_SIGNALS:
    // The users of a page; first for the paging's first page.
    void page(const QVariantList &users, bool first);
    // The last page has been handed on.
    void finished();
    // A page failed. rateLimitWait is the time in ms until the rate limit lets it be asked
    // again, or -1 for any other failure. The paging stays idle unless resumeAfter is called.
    void failed(qint64 rateLimitWait);

private:
    void requestPage(const QString &cursor);
    void resume();
    static qint64 rateLimitWait(const QVariantMap &error);

    QPointer<Tw::Twitter> mClient;
    QString mScreenName;
    int mQueryId;
    QSet<QString> mCursors;
    // The cursor of the latest page asked for, asked again after a rate-limit wait.
    QString mCursor;
    QTimer *mResumeTimer;
};
