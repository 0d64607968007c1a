// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QDataStream>
#include <QList>
#include <QMetaType>
#include <QString>

// Why a request of the contacts daemon could not be answered (fully).
class SocialProviderError
{
public:
    enum Type {
        NoError = 0,
        RequestFailed = 1,
        NotAuthorized = 2,
        NetworkError = 3,
        Timeout = 4,
        Cancelled = 5,
        NotInitialized = 6,
        InvalidRequest = 7
    };

    SocialProviderError();
    SocialProviderError(int type, const QString &description);

    int type() const { return mType; }
    QString description() const { return mDescription; }

    bool operator==(const SocialProviderError &other) const;

    // The error as bytes for the bus, at the framework's stream version, and back; bytes
    // that hold no error give NoError.
    QByteArray toBytes() const;
    static SocialProviderError fromBytes(const QByteArray &bytes);

private:
    friend QDataStream &operator>>(QDataStream &in, SocialProviderError &error);

    int mType;
    QString mDescription;
};

QDataStream &operator<<(QDataStream &out, const SocialProviderError &error);
QDataStream &operator>>(QDataStream &in, SocialProviderError &error);

Q_DECLARE_METATYPE(SocialProviderError)
Q_DECLARE_METATYPE(QList<SocialProviderError>)
