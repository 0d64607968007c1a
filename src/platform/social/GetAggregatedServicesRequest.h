// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SocialDataRequest.h"
#include "SocialService.h"

// Which services a provider offers.
class GetAggregatedServicesRequest : public SocialDataRequest
{
    Q_OBJECT

public:
    explicit GetAggregatedServicesRequest(QObject *parent = nullptr);

    QList<SocialService> services() const { return mServices; }
    void setServices(const QList<SocialService> &services);

protected:
    void writeResult(QDataStream &stream) const override;
    bool readResult(QDataStream &stream) override;

private:
    QList<SocialService> mServices;
};
