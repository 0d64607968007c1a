// SPDX-License-Identifier: BSD-3-Clause
// The fake server's control API: JSON in, JSON out, under /_control/ (see docs/test-kit.md).

#include "FakeApiServer.h"

#include "ExactJson.h"

#include <QDebug>

namespace {

// Ten years either way is plenty for provoking a clock skew.
const qint64 MaxClockOffsetSeconds = 10LL * 365 * 86400;

HttpResponse done(const QCborMap &answer = {{QStringLiteral("ok"), true}})
{
    return HttpResponse::json(200, ExactJson::write(answer));
}

HttpResponse refused(int status, const QString &reason)
{
    qWarning() << Q_FUNC_INFO << reason;
    return HttpResponse::json(status, ExactJson::write(QCborMap{{QStringLiteral("error"), reason}}));
}

HttpResponse created(const QString &id, const QString &error)
{
    return id.isEmpty() ? refused(400, error) : done({{QStringLiteral("id_str"), id}});
}

}

HttpResponse FakeApiServer::control(const HttpRequest &request, const QString &action)
{
    if (request.method == "GET") {
        if (action == QLatin1String("requests"))
            return HttpResponse::json(200, ExactJson::write(mLog));
        if (action == QLatin1String("requests/counts"))
            return HttpResponse::json(200, ExactJson::write(mRequestCounts));
        if (action == QLatin1String("faults"))
            return HttpResponse::json(200, ExactJson::write(mFaults.list()));
        if (action == QLatin1String("state")) {
            QCborMap state = mState.summary();
            state.insert(QStringLiteral("rate_limits"), mRateLimits.running(serverTime().toSecsSinceEpoch()));
            state.insert(QStringLiteral("spent_until"), mRateLimits.spentUntil());
            return done(state);
        }
        return refused(404, QStringLiteral("no such control: ") + action);
    }
    if (request.method != "POST")
        return refused(405, QStringLiteral("control requests are GET or POST"));
    QCborMap body;
    if (!request.body.trimmed().isEmpty()) {
        QString error;
        const QCborValue value = ExactJson::read(request.body, &error);
        if (!value.isMap())
            return refused(400, QStringLiteral("the body must be a JSON object: ") + error);
        body = value.toMap();
    }
    return controlWithBody(action, body);
}

HttpResponse FakeApiServer::controlWithBody(const QString &action, const QCborMap &body)
{
    QString error;
    if (action == QLatin1String("reset")) {
        mFaults.clear();
        mRateLimits.clear();
        mLog = QCborArray();
        mRequestCounts = QCborMap();
        mClockOffsetSeconds = 0;
        return mState.load(mOptions.fixturesDir, &error) ? done() : refused(500, error);
    }
    if (action == QLatin1String("requests/clear")) {
        mLog = QCborArray();
        mRequestCounts = QCborMap();
        return done();
    }
    if (action == QLatin1String("tweets"))
        return created(mState.addTweet(body, &error), error);
    if (action == QLatin1String("tweets/delete")) {
        return mState.deleteTweet(body.value(QStringLiteral("id_str")).toString())
            ? done()
            : refused(404, QStringLiteral("no tweet has this id_str"));
    }
    if (action == QLatin1String("mentions"))
        return created(mState.addMention(body, &error), error);
    if (action == QLatin1String("messages"))
        return created(mState.addMessage(body, &error), error);
    if (action == QLatin1String("friends")) {
        FakeApiState::Friends friends;
        friends.users = body.value(QStringLiteral("users")).toArray();
        const QCborValue generate = body.value(QStringLiteral("generate"));
        if (!generate.isUndefined())
            friends.generate = generate.isInteger() ? generate.toInteger() : -1;
        // Absent or null: no cap, as the service's pages. Anything else not a size is refused.
        const QCborValue pageSize = body.value(QStringLiteral("page_size"));
        if (!pageSize.isUndefined() && !pageSize.isNull())
            friends.pageSize = pageSize.isInteger() && pageSize.toInteger() > 0 ? pageSize.toInteger() : -1;
        friends.cursors = body.value(QStringLiteral("cursors")).toString(QStringLiteral("end"));
        error = mState.setFriends(friends);
        return error.isEmpty() ? done(mState.summary()) : refused(400, error);
    }
    if (action == QLatin1String("faults")) {
        error = mFaults.add(body);
        return error.isEmpty() ? done() : refused(400, error);
    }
    if (action == QLatin1String("faults/clear")) {
        mFaults.clear();
        return done();
    }
    if (action == QLatin1String("since_id")) {
        mState.setIgnoreSinceId(body.value(QStringLiteral("ignore")).toBool());
        return done();
    }
    if (action == QLatin1String("clock")) {
        const qint64 offset = body.value(QStringLiteral("offset_seconds")).toInteger();
        if (qAbs(offset) > MaxClockOffsetSeconds)
            return refused(400, QStringLiteral("offset_seconds is at most ten years either way"));
        mClockOffsetSeconds = offset;
        return done();
    }
    return refused(404, QStringLiteral("no such control: ") + action);
}
