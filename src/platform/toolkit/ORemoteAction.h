// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>

// A D-Bus method call that the platform makes on the user's behalf, for example when a
// notification or an event feed item is activated. Its textual form is
// "service path interface method arg1 arg2 ...", each argument being the Base64 text of
// the QVariant serialised by QDataStream.
class ORemoteAction : public QObject
{
    Q_OBJECT

public:
    ORemoteAction(const QString &serviceName, const QString &objectPath, const QString &interface,
                  const QString &method, const QVariantList &arguments = QVariantList(),
                  QObject *parent = nullptr);

    QString serviceName() const { return mServiceName; }
    QString objectPath() const { return mObjectPath; }
    QString interface() const { return mInterface; }
    QString method() const { return mMethod; }
    QVariantList arguments() const { return mArguments; }

    QString toString() const;
    static QString serializeArgument(const QVariant &argument);

private:
    QString mServiceName;
    QString mObjectPath;
    QString mInterface;
    QString mMethod;
    QVariantList mArguments;
};
