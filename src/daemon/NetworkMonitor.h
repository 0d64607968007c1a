// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QObject>

class QSocketNotifier;

// Whether the device is online, told by the kernel's routing events (netlink) rather
// than by polling, so that an idle daemon is not woken up to look. Online means a
// default route through an interface that is up.
class NetworkMonitor : public QObject
{
    Q_OBJECT

public:
    explicit NetworkMonitor(QObject *parent = nullptr);
    ~NetworkMonitor() override;

    bool isOnline() const { return mOnline; }

Q_SIGNALS:
    void onlineStateChanged(bool isOnline);

private Q_SLOTS:
    void onKernelEvent();

private:
    static bool hasDefaultRoute();

    int mSocket = -1;
    QSocketNotifier *mNotifier = nullptr;
    bool mOnline = false;
};
