// SPDX-License-Identifier: BSD-3-Clause
#include "RealDaemonSession.h"

#include <QTest>

#include <csignal>

void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished();
}

RealDaemonSession::~RealDaemonSession()
{
    stopProcess(mDaemon);
    mFeed.reset();
}

bool RealDaemonSession::start()
{
    if (!mBus.isValid() || !mEnvironment.isValid() || !mServer.start())
        return false;
    mEnvironment.writeDefaultAccount();
    mEnvironment.writeAccount({{QStringLiteral("account/api_base"), mServer.apiBase()}});
    mFeed.reset(new EventFeedProcess(mBus));
    if (!mFeed->start())
        return false;
    QProcessEnvironment environment = mEnvironment.processEnvironment(mBus.address());
    for (const QString &name : {QStringLiteral("http_proxy"), QStringLiteral("HTTP_PROXY"),
                                QStringLiteral("https_proxy"), QStringLiteral("HTTPS_PROXY")})
        environment.insert(name, mServer.proxyUrl());
    environment.remove(QStringLiteral("no_proxy"));
    environment.remove(QStringLiteral("NO_PROXY"));
    mDaemon.setProcessEnvironment(environment);
    mDaemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mDaemon.start(QStringLiteral(DAEMON_BINARY), QStringList());
    return mDaemon.waitForStarted(5000) && mBus.waitForName(QStringLiteral("com.halvex.twitterostra"));
}

bool RealDaemonSession::waitForLogin()
{
    return mBus.waitForName(QStringLiteral("com.halvex.socialprovider.twitter"), 15000);
}

bool RealDaemonSession::waitForFirstRefresh()
{
    return QTest::qWaitFor(
        [this] {
            if (mFeed->items().size() == 20)
                return true;
            mFeed->control().requestRefresh().waitForFinished();
            return QTest::qWaitFor([this] { return mFeed->items().size() == 20; }, 3000);
        },
        20000);
}
