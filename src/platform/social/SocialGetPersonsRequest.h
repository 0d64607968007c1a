// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SocialDataRequest.h"
#include "SocialNetworkPerson.h"

#include <QHash>
#include <QRegExp>

// The persons a provider knows, optionally only those whose properties match: each
// filter entry maps a property name to a regular expression that must match it wholly.
class SocialGetPersonsRequest : public SocialDataRequest
{
    Q_OBJECT

public:
    explicit SocialGetPersonsRequest(QObject *parent = nullptr);

    QHash<QString, QRegExp> propertyFilter() const { return mPropertyFilter; }
    void setPropertyFilter(const QHash<QString, QRegExp> &filter);
    QList<SocialNetworkPerson> persons() const { return mPersons; }
    void setPersons(const QList<SocialNetworkPerson> &persons);

protected:
    void writeParameters(QDataStream &stream) const override;
    bool readParameters(QDataStream &stream) override;
    void writeResult(QDataStream &stream) const override;
    bool readResult(QDataStream &stream) override;

private:
    QHash<QString, QRegExp> mPropertyFilter;
    QList<SocialNetworkPerson> mPersons;
};
