// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SocialActivity.h"
#include "SocialGenericData.h"
#include "SocialNetworkPerson.h"
#include "SocialProviderTimeline.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

class SocialDataRequest;
class SocialProviderInterface;

// Puts one social provider on the session bus for the contacts daemon, as
// "com.halvex.socialprovider.twitter" at "/twitter": requests arrive as encoded bytes and
// are answered by requestFinished; the provider's updates go out as encoded records.
// Owns the provider.
class SdpImpl : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.halvex.socialprovider.runner")

public:
    SdpImpl(SocialProviderInterface *interface, QObject *parent);
    ~SdpImpl() override;

    // Registers the bus name and the object; false when either is refused.
    bool init();

Q_SIGNALS:
    void personsUpdate(QVariantList data, QStringList updatedProperties);
    void activityUpdate(QVariantList data, QStringList updatedProperties, int timeline);
    void dataUpdate(QVariantList data, QStringList updatedProperties);
    void requestFinished(int requestType, QString requestId, QByteArray request, QByteArray error);

public Q_SLOTS:
    void performRequest(int requestType, const QString &requestId, const QByteArray &request);
    QVariantMap metaData();

private Q_SLOTS:
    void onRequestFinished(SocialDataRequest *self);
    void onPersonsUpdate(const QList<SocialNetworkPerson> &data, const QList<QString> &updatedProperties);
    void onActivityUpdate(const QList<SocialActivity> &data, const QList<QString> &updatedProperties,
                          SocialProviderTimeline::TimelineType timeline);
    void onDataUpdate(const QList<SocialGenericData> &data, const QList<QString> &updatedProperties);

private:
    void setProviderInterface(SocialProviderInterface *interface);
    void refuse(int requestType, const QString &requestId, const QByteArray &request, int errorType,
                const QString &description);
    template<typename Record>
    static QVariantList encode(const QList<Record> &records);

    QString mServiceName;
    QString mObjectPath;
    SocialProviderInterface *mInterface;
    QMap<SocialDataRequest *, QString> mRequests;
};
