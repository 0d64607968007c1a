// SPDX-License-Identifier: BSD-3-Clause
#include "SessionProcess.h"

#include <QDebug>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

SessionProcess::SessionProcess(QObject *parent)
    : QProcess(parent)
{
}

SessionProcess::~SessionProcess()
{
    if (state() == NotRunning)
        return;
    kill();
    waitForFinished(5000);
}

bool SessionProcess::stop(int timeoutMs)
{
    if (state() != NotRunning) {
        terminate();
        if (!waitForFinished(timeoutMs)) {
            qWarning() << Q_FUNC_INFO << program() << "did not end on SIGTERM; killing it";
            kill();
            waitForFinished(5000);
            return false;
        }
    }
    return exitStatus() == NormalExit && exitCode() == 0;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
void SessionProcess::setupChildProcess()
{
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}
