// SPDX-License-Identifier: BSD-3-Clause
#include "ORemoteAction.h"

#include <QBuffer>
#include <QDataStream>

ORemoteAction::ORemoteAction(const QString &serviceName, const QString &objectPath,
                             const QString &interface, const QString &method,
                             const QVariantList &arguments, QObject *parent)
    : QObject(parent)
    , mServiceName(serviceName)
    , mObjectPath(objectPath)
    , mInterface(interface)
    , mMethod(method)
    , mArguments(arguments)
{
}

QString ORemoteAction::serializeArgument(const QVariant &argument)
{
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    // The platform decodes with the default stream version, so none is set here.
    QDataStream stream(&buffer);
    stream << argument;
    return QString::fromLatin1(buffer.data().toBase64());
}

QString ORemoteAction::toString() const
{
    QStringList parts = {mServiceName, mObjectPath, mInterface, mMethod};
    for (const QVariant &argument : mArguments)
        parts.append(serializeArgument(argument));
    return parts.join(QLatin1Char(' '));
}
