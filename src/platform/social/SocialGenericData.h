// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QDataStream>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// Version of every stream the social provider framework writes or reads; both sides
// set it, so that a newer Qt on one side does not change the bytes.
constexpr int SocialStreamVersion = QDataStream::Qt_5_15;

// A record of the contacts framework: a class name and named values, copyable.
class SocialGenericData
{
public:
    static const QString ClassName;
    static const QString Id;
    static const QString Description;

    SocialGenericData();
    explicit SocialGenericData(const QString &className);

    QString className() const { return mClassName; }
    void setProperty(const QString &name, const QVariant &value);
    // The value as text; an empty string when absent.
    QString property(const QString &name) const;
    QVariant propertyValue(const QString &name) const;
    bool hasProperty(const QString &name) const;
    QVariantMap properties() const { return mProperties; }
    QString id() const;
    void setParentAccount(const QString &account);
    QString parentAccount() const { return mParentAccount; }

    bool operator==(const SocialGenericData &other) const;

private:
    friend QDataStream &operator>>(QDataStream &in, SocialGenericData &data);

    QString mClassName;
    QString mParentAccount;
    QVariantMap mProperties;
};

QDataStream &operator<<(QDataStream &out, const SocialGenericData &data);
// Leaves the stream's status set and the record empty when the bytes do not hold one.
QDataStream &operator>>(QDataStream &in, SocialGenericData &data);

Q_DECLARE_METATYPE(SocialGenericData)
