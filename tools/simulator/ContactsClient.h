// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

// Plays the contacts daemon: asks the daemon's social provider runner for the persons
// and waits for its answer.
class ContactsClient : public QObject
{
    Q_OBJECT

public:
    explicit ContactsClient(const QDBusConnection &connection, QObject *parent = nullptr);

    // "Name (@screen_name)" of every person, or false with lastError() set.
    bool requestPersons(QStringList *contacts, int timeoutMs);
    QString lastError() const { return mLastError; }

private:
    QDBusConnection mConnection;
    int mRequestCount = 0;
    QString mLastError;
};
