// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SessionProcess.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QStringList>

// The built daemon as a child process on a session's folders and bus, its log kept.
class DaemonProcess : public SessionProcess
{
    Q_OBJECT

public:
    explicit DaemonProcess(QObject *parent = nullptr);

    // The log goes to this file as well (it is kept in memory in any case).
    void setLogFile(const QString &path);
    // Starts twitter-ostra with these arguments in this environment (a session's folders
    // and bus: TestEnvironment::processEnvironment()). The wrapper, when given, is a
    // command line that runs the daemon as its last argument.
    void start(const QProcessEnvironment &environment, const QStringList &arguments = {QStringLiteral("--debug")},
               const QStringList &wrapper = {});
    // The log since the last start.
    QString log();

private:
    void readLog();

    QFile mLogFile;
    QString mLog;
};
