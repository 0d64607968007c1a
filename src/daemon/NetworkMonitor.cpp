// SPDX-License-Identifier: BSD-3-Clause
#include "NetworkMonitor.h"

#include <QDebug>
#include <QFile>
#include <QSocketNotifier>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Flags of an interface, as the kernel has them in this network namespace; 0 when unknown.
unsigned interfaceFlags(const QByteArray &name)
{
    ifreq request = {};
    if (name.size() >= IFNAMSIZ)
        return 0;
    qstrncpy(request.ifr_name, name.constData(), IFNAMSIZ);
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return 0;
    const int result = ::ioctl(probe, SIOCGIFFLAGS, &request);
    ::close(probe);
    return result == 0 ? unsigned(request.ifr_flags) : 0;
}

bool usable(const QByteArray &name)
{
    const unsigned flags = interfaceFlags(name);
    return (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
}

// /proc/net/route: "Iface Destination Gateway ..." with a destination of 00000000.
bool ipv4DefaultRoute()
{
    QFile routes(QStringLiteral("/proc/net/route"));
    if (!routes.open(QIODevice::ReadOnly))
        return false;
    routes.readLine(); // the header
    while (!routes.atEnd()) {
        const QList<QByteArray> fields = routes.readLine().simplified().split(' ');
        if (fields.size() > 2 && fields.at(1) == "00000000" && usable(fields.at(0)))
            return true;
    }
    return false;
}

// /proc/net/ipv6_route: destination and prefix length first, the interface last.
bool ipv6DefaultRoute()
{
    QFile routes(QStringLiteral("/proc/net/ipv6_route"));
    if (!routes.open(QIODevice::ReadOnly))
        return false;
    while (!routes.atEnd()) {
        const QList<QByteArray> fields = routes.readLine().simplified().split(' ');
        if (fields.size() == 10 && fields.at(0) == QByteArray(32, '0') && fields.at(1) == "00" && usable(fields.at(9)))
            return true;
    }
    return false;
}

}

NetworkMonitor::NetworkMonitor(QObject *parent)
    : QObject(parent)
{
    mSocket = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    sockaddr_nl address = {};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (mSocket < 0 || ::bind(mSocket, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        // Without events the state is still read once; it then stays as it was.
        qWarning() << Q_FUNC_INFO << "no routing events; the online state will not follow changes";
    } else {
        mNotifier = new QSocketNotifier(mSocket, QSocketNotifier::Read, this);
        connect(mNotifier, &QSocketNotifier::activated, this, &NetworkMonitor::onKernelEvent);
    }
    mOnline = hasDefaultRoute();
}

NetworkMonitor::~NetworkMonitor()
{
    if (mSocket >= 0)
        ::close(mSocket);
}

bool NetworkMonitor::hasDefaultRoute()
{
    return ipv4DefaultRoute() || ipv6DefaultRoute();
}

void NetworkMonitor::onKernelEvent()
{
    // The messages only say that something changed; the tables say what is.
    char buffer[8192];
    while (::recv(mSocket, buffer, sizeof(buffer), 0) > 0) {
    }
    const bool online = hasDefaultRoute();
    if (online == mOnline)
        return;
    mOnline = online;
    qDebug() << Q_FUNC_INFO << online;
    emit onlineStateChanged(online);
}
