// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QObject>
#include <QVariant>

// One key of the platform's configuration store, read from the INI file
// "$XDG_CONFIG_HOME/Halvex/gconf.conf" whose keys are the key paths without their
// leading slash ("/desktop/ostra/event_feed/update_interval" is
// "desktop/ostra/event_feed/update_interval").
class OGConfItem : public QObject
{
    Q_OBJECT

public:
    explicit OGConfItem(const QString &key, QObject *parent = nullptr);

    QString key() const { return mKey; }
    // The stored value; an invalid QVariant when the file or the key is missing.
    QVariant value() const;

    static QString storePath();

private:
    QString mKey;
};
