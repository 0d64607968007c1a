// SPDX-License-Identifier: BSD-3-Clause
#include "GetAggregatedServicesRequest.h"

GetAggregatedServicesRequest::GetAggregatedServicesRequest(QObject *parent)
    : SocialDataRequest(AggregatedServices, parent)
{
}

void GetAggregatedServicesRequest::setServices(const QList<SocialService> &services)
{
    mServices = services;
}

void GetAggregatedServicesRequest::writeResult(QDataStream &stream) const
{
    writeRecords(stream, mServices);
}

bool GetAggregatedServicesRequest::readResult(QDataStream &stream)
{
    return readRecords(stream, mServices);
}
