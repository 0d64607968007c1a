// SPDX-License-Identifier: BSD-3-Clause
#include "ContactsClient.h"

#include "SocialGetPersonsRequest.h"
#include "SocialProviderInitializer.h"
#include "simulatorrunnerinterface.h"

#include <QDBusConnectionInterface>
#include <QDebug>
#include <QEventLoop>
#include <QTimer>

namespace {
const QString RunnerService = QStringLiteral("com.halvex.socialprovider.twitter");
}

ContactsClient::ContactsClient(const QDBusConnection &connection, QObject *parent)
    : QObject(parent)
    , mConnection(connection)
{
    SocialProviderInitializer::init();
}

bool ContactsClient::requestPersons(QStringList *contacts, int timeoutMs)
{
    if (!mConnection.interface()->isServiceRegistered(RunnerService)) {
        // The runner exists only while the daemon is logged in.
        mLastError = QStringLiteral("no social provider on the bus (not logged in)");
        return false;
    }
    ComHalvexSocialproviderRunnerInterface runner(RunnerService, QStringLiteral("/twitter"), mConnection);
    SocialGetPersonsRequest request;
    QByteArray bytes;
    {
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream.setVersion(SocialStreamVersion);
        request.serialize(stream);
    }
    const QString id = QStringLiteral("simulator-%1").arg(++mRequestCount);
    QByteArray answer;
    QByteArray error;
    bool answered = false;
    QEventLoop loop;
    connect(&runner, &ComHalvexSocialproviderRunnerInterface::requestFinished, &loop,
            [&](int, const QString &requestId, const QByteArray &result, const QByteArray &errorBytes) {
                if (requestId != id)
                    return;
                answer = result;
                error = errorBytes;
                answered = true;
                loop.quit();
            });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QDBusPendingReply<> sent = runner.performRequest(5, id, bytes);
    sent.waitForFinished();
    if (sent.isError()) {
        mLastError = QStringLiteral("performRequest: ") + sent.error().message();
        return false;
    }
    if (!answered)
        loop.exec();
    if (!answered) {
        mLastError = QStringLiteral("no requestFinished for %1 within %2 ms").arg(id).arg(timeoutMs);
        return false;
    }
    if (!error.isEmpty()) {
        mLastError = QStringLiteral("the runner answered %1 with an error record").arg(id);
        return false;
    }
    QDataStream stream(answer);
    stream.setVersion(SocialStreamVersion);
    request.deserialize(stream);
    if (stream.status() != QDataStream::Ok) {
        mLastError = QStringLiteral("unreadable answer to %1").arg(id);
        return false;
    }
    contacts->clear();
    for (const SocialNetworkPerson &person : request.persons())
        contacts->append(QStringLiteral("%1 (%2)").arg(person.property(SocialNetworkPerson::FirstName),
                                                       person.property(QStringLiteral("ScreenName"))));
    qDebug() << Q_FUNC_INFO << id << "persons:" << contacts->size();
    return true;
}
