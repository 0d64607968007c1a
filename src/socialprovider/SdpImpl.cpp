// SPDX-License-Identifier: BSD-3-Clause
#include "SdpImpl.h"

#include "GetAggregatedServicesRequest.h"
#include "SocialGetAccountsRequest.h"
#include "SocialGetPersonsRequest.h"
#include "SocialProviderInterface.h"
#include "TwitterPlugin.h"
#include "runneradaptor.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDebug>

namespace {

const QString ServicePrefix = QStringLiteral("com.halvex.socialprovider.");

}

SdpImpl::SdpImpl(SocialProviderInterface *interface, QObject *parent)
    : QObject(parent)
    , mInterface(nullptr)
{
    if (!interface)
        qWarning() << Q_FUNC_INFO << "interface == NULL";
    qDebug() << Q_FUNC_INFO << QString(QStringLiteral("Started sdp for ") + TwitterPlugin::ProviderName);
    if (interface)
        setProviderInterface(interface);
}

SdpImpl::~SdpImpl()
{
    qDebug() << Q_FUNC_INFO;
    // A runner whose init failed leaves the name and the object of the one that holds them.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.objectRegisteredAt(mObjectPath) == this) {
        bus.unregisterService(mServiceName);
        bus.unregisterObject(mObjectPath, QDBusConnection::UnregisterNode);
    }
    delete mInterface;
}

void SdpImpl::setProviderInterface(SocialProviderInterface *interface)
{
    delete mInterface;
    mInterface = interface;
    connect(mInterface, &SocialProviderInterface::personsUpdate, this, &SdpImpl::onPersonsUpdate);
    connect(mInterface, &SocialProviderInterface::activityUpdate, this, &SdpImpl::onActivityUpdate);
    connect(mInterface, &SocialProviderInterface::dataUpdate, this, &SdpImpl::onDataUpdate);
    mInterface->onAttached();
}

bool SdpImpl::init()
{
    qDebug() << Q_FUNC_INFO;
    new RunnerAdaptor(this);
    QDBusConnection bus = QDBusConnection::sessionBus();
    mServiceName = ServicePrefix + TwitterPlugin::ProviderName;
    mObjectPath = QLatin1Char('/') + TwitterPlugin::ProviderName;
    // The object before the name: a peer that sees the name may call at once. The
    // interface served is the runner's own (its class info); the adaptor stays unexported.
    if (!bus.registerObject(mObjectPath, this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)) {
        qCritical() << Q_FUNC_INFO << "Unable to register:" << mServiceName << bus.lastError().message();
        return false;
    }
    if (!bus.registerService(mServiceName)) {
        qCritical() << Q_FUNC_INFO << "Failed to register service:" << mServiceName;
        return false;
    }
    return true;
}

QVariantMap SdpImpl::metaData()
{
    qDebug() << "Enter:" << "metaData";
    // The runner's own answer, the same with or without a provider.
    return TwitterPlugin::providerMetaData();
}

// Answers at once with an error record, echoing the bytes received.
void SdpImpl::refuse(int requestType, const QString &requestId, const QByteArray &request, int errorType,
                     const QString &description)
{
    emit requestFinished(requestType, requestId, request, SocialProviderError(errorType, description).toBytes());
}

void SdpImpl::performRequest(int requestType, const QString &requestId, const QByteArray &request)
{
    qDebug() << Q_FUNC_INFO;
    if (!mInterface) {
        qWarning() << Q_FUNC_INFO << "Handler is null";
        refuse(requestType, requestId, request, SocialProviderError::NotInitialized, QStringLiteral("Handler not ready"));
        return;
    }
    qDebug() << Q_FUNC_INFO << "request:" << requestType << " id:" << requestId;

    SocialDataRequest *dataRequest = nullptr;
    switch (requestType) {
    case SocialDataRequest::AggregatedServices:
        dataRequest = new GetAggregatedServicesRequest;
        break;
    case SocialDataRequest::Accounts:
        dataRequest = new SocialGetAccountsRequest;
        break;
    case SocialDataRequest::Persons:
        dataRequest = new SocialGetPersonsRequest;
        break;
    default:
        refuse(requestType, requestId, request, SocialProviderError::RequestFailed, QString::fromLatin1(Q_FUNC_INFO));
        return;
    }

    // The bytes come from any process on the bus: a request that cannot be read whole
    // is refused, not handed on half read.
    if (!dataRequest->fromBytes(request)) {
        qWarning() << Q_FUNC_INFO << "unreadable request" << requestType << requestId << request.size() << "bytes";
        delete dataRequest;
        refuse(requestType, requestId, request, SocialProviderError::RequestFailed,
               QStringLiteral("The request could not be read"));
        return;
    }

    mRequests.insert(dataRequest, requestId);
    connect(dataRequest, &SocialDataRequest::finished, this, &SdpImpl::onRequestFinished);
    mInterface->performRequest(dataRequest);
}

void SdpImpl::onRequestFinished(SocialDataRequest *self)
{
    qDebug() << Q_FUNC_INFO;
    const QString requestId = mRequests.value(self);
    if (requestId.isEmpty()) {
        qWarning() << Q_FUNC_INFO << requestId << "request not signaled - not found!!!!";
        return;
    }
    QByteArray error;
    const QList<SocialProviderError> errors = self->errors();
    if (errors.isEmpty()) {
        qDebug() << Q_FUNC_INFO << requestId << "error: none";
    } else {
        error = errors.first().toBytes();
        qDebug() << Q_FUNC_INFO << requestId << "error:" << errors.first().type() << " description: "
                 << errors.first().description();
    }
    emit requestFinished(self->type(), requestId, self->toBytes(), error);
    mRequests.remove(self);
    self->deleteLater();
}

template<typename Record>
QVariantList SdpImpl::encode(const QList<Record> &records)
{
    QVariantList encoded;
    for (const Record &record : records) {
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream.setVersion(SocialStreamVersion);
        stream << static_cast<const SocialGenericData &>(record);
        encoded.append(bytes);
    }
    return encoded;
}

void SdpImpl::onPersonsUpdate(const QList<SocialNetworkPerson> &data, const QList<QString> &updatedProperties)
{
    qDebug() << Q_FUNC_INFO;
    const QVariantList encoded = encode(data);
    qDebug() << "onPersonsUpdate" << "persons count: " << encoded.size();
    emit personsUpdate(encoded, updatedProperties);
}

void SdpImpl::onActivityUpdate(const QList<SocialActivity> &data, const QList<QString> &updatedProperties,
                               SocialProviderTimeline::TimelineType timeline)
{
    qDebug() << Q_FUNC_INFO;
    emit activityUpdate(encode(data), updatedProperties, int(timeline));
    qDebug() << Q_FUNC_INFO << "signal emitted";
}

void SdpImpl::onDataUpdate(const QList<SocialGenericData> &data, const QList<QString> &updatedProperties)
{
    qDebug() << "onDataUpdate";
    emit dataUpdate(encode(data), updatedProperties);
}
