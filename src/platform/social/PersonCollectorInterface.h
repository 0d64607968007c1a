// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QObject>
#include <QVariantMap>

// Something that gives persons to the contacts daemon.
class PersonCollectorInterface : public QObject
{
    Q_OBJECT

public:
    explicit PersonCollectorInterface(QObject *parent = nullptr);

public Q_SLOTS:
    // Called once the collector has been handed to its runner.
    virtual void onAttached();
    // "name", "version", "comment" and "icon" of the collector.
    virtual QVariantMap metaData();
};
