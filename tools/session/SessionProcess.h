// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QProcess>

// A process of a session: in a process group of its own, so that Ctrl-C in a terminal
// reaches only the program driving the session, which then stops the daemon before the
// servers and the bus; and ended with that program should it die first.
class SessionProcess : public QProcess
{
    Q_OBJECT

public:
    explicit SessionProcess(QObject *parent = nullptr);
    ~SessionProcess() override;

    // SIGTERM, then SIGKILL after the timeout; true when it ended by itself with status 0.
    bool stop(int timeoutMs = 10000);

protected:
    void setupChildProcess() override;
};
