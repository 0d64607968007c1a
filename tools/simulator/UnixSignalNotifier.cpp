// SPDX-License-Identifier: BSD-3-Clause
#include "UnixSignalNotifier.h"

#include <QDebug>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};
}

UnixSignalNotifier::UnixSignalNotifier(QObject *parent)
    : QObject(parent)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning() << Q_FUNC_INFO << "no pipe for signals; Ctrl-C ends the simulator without clean-up";
        return;
    }
    mNotifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &UnixSignalNotifier::readPipe);
    struct sigaction action = {};
    action.sa_handler = &UnixSignalNotifier::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

UnixSignalNotifier::~UnixSignalNotifier()
{
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    delete mNotifier;
    for (int &end : signalPipe) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void UnixSignalNotifier::handle(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (signalPipe[1] >= 0)
        (void)!::write(signalPipe[1], &byte, 1);
}

void UnixSignalNotifier::readPipe()
{
    unsigned char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1)
        emit stopRequested(byte);
}
