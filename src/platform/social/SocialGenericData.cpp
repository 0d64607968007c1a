// SPDX-License-Identifier: BSD-3-Clause
#include "SocialGenericData.h"

#include "SocialStream.h"

const QString SocialGenericData::ClassName = QStringLiteral("SocialGenericData");
const QString SocialGenericData::Id = QStringLiteral("Id");
const QString SocialGenericData::Description = QStringLiteral("Description");

SocialGenericData::SocialGenericData()
    : mClassName(ClassName)
{
}

SocialGenericData::SocialGenericData(const QString &className)
    : mClassName(className)
{
}

void SocialGenericData::setProperty(const QString &name, const QVariant &value)
{
    mProperties.insert(name, value);
}

QString SocialGenericData::property(const QString &name) const
{
    return mProperties.value(name).toString();
}

QVariant SocialGenericData::propertyValue(const QString &name) const
{
    return mProperties.value(name);
}

bool SocialGenericData::hasProperty(const QString &name) const
{
    return mProperties.contains(name);
}

QString SocialGenericData::id() const
{
    return property(Id);
}

void SocialGenericData::setParentAccount(const QString &account)
{
    mParentAccount = account;
}

bool SocialGenericData::operator==(const SocialGenericData &other) const
{
    return mClassName == other.mClassName && mParentAccount == other.mParentAccount
        && mProperties == other.mProperties;
}

QDataStream &operator<<(QDataStream &out, const SocialGenericData &data)
{
    return out << data.className() << data.parentAccount() << data.properties();
}

QDataStream &operator>>(QDataStream &in, SocialGenericData &data)
{
    SocialGenericData read;
    quint32 count = 0;
    if (!SocialStream::readString(in, read.mClassName) || !SocialStream::readString(in, read.mParentAccount)
        || !SocialStream::readCount(in, count, SocialStream::MinimumEntrySize))
        return in;
    for (quint32 i = 0; i < count; ++i) {
        QString name;
        QVariant value;
        if (!SocialStream::readString(in, name) || !SocialStream::readVariant(in, value))
            return in;
        read.mProperties.insert(name, value);
    }
    data = read;
    return in;
}
