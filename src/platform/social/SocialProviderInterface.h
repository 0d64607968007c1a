// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "PersonCollectorInterface.h"
#include "SocialActivity.h"
#include "SocialGenericData.h"
#include "SocialNetworkPerson.h"
#include "SocialProviderTimeline.h"
#include "SocialService.h"
#include "SocialServiceAccount.h"

#include <QList>

class SocialDataRequest;

// A social provider of the contacts daemon: it describes its services and accounts,
// answers requests and announces changed persons and records.
class SocialProviderInterface : public PersonCollectorInterface
{
    Q_OBJECT

public:
    explicit SocialProviderInterface(QObject *parent = nullptr);

Q_SIGNALS:
    void personsUpdate(const QList<SocialNetworkPerson> &data, const QList<QString> &updatedProperties);
    void activityUpdate(const QList<SocialActivity> &data, const QList<QString> &updatedProperties,
                        SocialProviderTimeline::TimelineType timeline);
    void dataUpdate(const QList<SocialGenericData> &data, const QList<QString> &updatedProperties);

public Q_SLOTS:
    // Answers services and accounts requests from services() and accounts(); every
    // request ends finished, with an error for a kind this provider does not serve.
    virtual void performRequest(SocialDataRequest *request);
    virtual void cancelRequest(SocialDataRequest *request);
    virtual QList<SocialService> services();
    // A provider without a client has no account.
    virtual QList<SocialServiceAccount> accounts();
};

#define SocialProviderInterface_iid "com.halvex.rosterd.SocialProvider/1.0"
Q_DECLARE_INTERFACE(SocialProviderInterface, SocialProviderInterface_iid)
