// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QProcess>

// A process the simulator starts and stops itself: in a process group of its own, so
// that Ctrl-C in the terminal reaches only the simulator, which then stops the daemon
// before the servers and the bus; and ended with the simulator should that die first.
class ChildProcess : public QProcess
{
    Q_OBJECT

public:
    explicit ChildProcess(QObject *parent = nullptr);

protected:
    void setupChildProcess() override;
};
