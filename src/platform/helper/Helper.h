// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QObject>

class QSocketNotifier;

// Process-wide services of the platform's social-integration helper library: the log
// format, the process priority, and (for as long as a Helper object lives) an orderly
// quit of the event loop on SIGTERM, SIGINT or SIGHUP, so that open files are closed.
class Helper : public QObject
{
    Q_OBJECT

public:
    explicit Helper(QObject *parent = nullptr);
    ~Helper() override;

    // Installs the message handler: each line carries the program tag, a timestamp and
    // the level; debug lines are written only when debug is true.
    static void setDebugCallback(const char *name, bool debug);
    // Lowers the scheduling priority of the process, as befits a background service.
    static void setLowPriority();
    // Keeps Qt's generic network bearer out of the process, unless the environment asks for
    // it (QT_EXCLUDE_GENERIC_BEARER set): from the first network request on it would poll
    // the interfaces every 10 seconds, while the online state comes from netlink events.
    // To be called before the first QNetworkAccessManager is made.
    static void excludePollingBearer();

private Q_SLOTS:
    void onTerminationSignal();

private:
    QSocketNotifier *mNotifier = nullptr;
};
