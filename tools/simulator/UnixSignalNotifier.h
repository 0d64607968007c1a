// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM as a Qt signal: the handler only writes to a pipe, which the event
// loop reads, since almost nothing is safe inside a signal handler.
class UnixSignalNotifier : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignalNotifier(QObject *parent = nullptr);
    ~UnixSignalNotifier() override;

Q_SIGNALS:
    void stopRequested(int signalNumber);

private:
    static void handle(int signalNumber);
    void readPipe();

    QSocketNotifier *mNotifier = nullptr;
};
