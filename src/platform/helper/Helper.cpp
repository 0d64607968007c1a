// SPDX-License-Identifier: BSD-3-Clause
#include "Helper.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QByteArray gProgramTag;
bool gDebugEnabled = false;
int gSignalPipe[2] = {-1, -1};

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "Debug";
    case QtInfoMsg:
        return "Info";
    case QtWarningMsg:
        return "Warning";
    case QtCriticalMsg:
        return "Critical";
    case QtFatalMsg:
        return "Fatal";
    }
    return "?";
}

void writeMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg && !gDebugEnabled)
        return;
    const QByteArray time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8();
    fprintf(stderr, "%s %s %s: %s\n", gProgramTag.constData(), time.constData(), levelName(type),
            message.toUtf8().constData());
    fflush(stderr);
}

void forwardSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe calls here; the event loop does the rest.
    if (::write(gSignalPipe[0], &byte, 1) < 0)
        return;
}

}

Helper::Helper(QObject *parent)
    : QObject(parent)
{
    if (gSignalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0)
        return;
    mNotifier = new QSocketNotifier(gSignalPipe[1], QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &Helper::onTerminationSignal);
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

Helper::~Helper()
{
    if (!mNotifier)
        return;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        std::signal(signal, SIG_DFL);
    delete mNotifier;
    ::close(gSignalPipe[0]);
    ::close(gSignalPipe[1]);
    gSignalPipe[0] = gSignalPipe[1] = -1;
}

void Helper::setDebugCallback(const char *name, bool debug)
{
    gProgramTag = name;
    gDebugEnabled = debug;
    qInstallMessageHandler(writeMessage);
}

void Helper::setLowPriority()
{
    if (::setpriority(PRIO_PROCESS, 0, 10) != 0)
        qWarning() << Q_FUNC_INFO << "cannot lower the process priority";
}

void Helper::excludePollingBearer()
{
    if (!qEnvironmentVariableIsSet("QT_EXCLUDE_GENERIC_BEARER"))
        qputenv("QT_EXCLUDE_GENERIC_BEARER", "1");
}

void Helper::onTerminationSignal()
{
    char byte = 0;
    if (::read(gSignalPipe[1], &byte, 1) <= 0)
        return;
    qDebug() << Q_FUNC_INFO << "termination requested";
    QCoreApplication::exit(0);
}
