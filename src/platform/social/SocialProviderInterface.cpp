// SPDX-License-Identifier: BSD-3-Clause
#include "SocialProviderInterface.h"

#include "GetAggregatedServicesRequest.h"
#include "SocialGetAccountsRequest.h"

SocialProviderInterface::SocialProviderInterface(QObject *parent)
    : PersonCollectorInterface(parent)
{
}

void SocialProviderInterface::performRequest(SocialDataRequest *request)
{
    if (auto *servicesRequest = qobject_cast<GetAggregatedServicesRequest *>(request)) {
        servicesRequest->setServices(services());
        request->setState(SocialDataRequest::Finished, {});
    } else if (auto *accountsRequest = qobject_cast<SocialGetAccountsRequest *>(request)) {
        accountsRequest->setAccounts(accounts());
        request->setState(SocialDataRequest::Finished, {});
    } else {
        request->setState(SocialDataRequest::Finished,
                          {SocialProviderError(SocialProviderError::InvalidRequest,
                                               QStringLiteral("Request kind not served by this provider"))});
    }
}

void SocialProviderInterface::cancelRequest(SocialDataRequest *request)
{
    request->setState(SocialDataRequest::Finished,
                      {SocialProviderError(SocialProviderError::Cancelled, QStringLiteral("Request cancelled"))});
}

QList<SocialService> SocialProviderInterface::services()
{
    return QList<SocialService>();
}

QList<SocialServiceAccount> SocialProviderInterface::accounts()
{
    return QList<SocialServiceAccount>();
}
