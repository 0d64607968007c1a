// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDateTime>
#include <QJsonArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>
#include <QVector>

class QDBusMessage;

// Stand-in for the platform's home event feed. Serves com.halvex.home.EventFeed at
// /eventfeed and com.halvex.home.EventFeedControl at /control (both through generated
// adaptors), keeps the added items, logs every feed call and can be told to answer
// addItem badly or late, so that clients can be tested against it.
class ReferenceEventFeed : public QObject, protected QDBusContext
{
    Q_OBJECT

public:
    explicit ReferenceEventFeed(QObject *parent = nullptr);
    ~ReferenceEventFeed() override;

    static QString serviceName();
    static QString feedPath();
    static QString controlPath();

    // After every change of the items, write itemsJson() to this file (empty: never).
    void setDumpFile(const QString &path);
    // Print every received call on stdout, one line each.
    void setVerbose(bool verbose);

    // Registers both objects, then the service name. False (after logging why) if the
    // connection is down or the name is taken.
    bool publish(QDBusConnection connection);

    // com.halvex.home.EventFeed
    qlonglong addItem(const QVariantMap &parameters);
    void removeItem(qlonglong id);
    void removeItemsBySourceName(const QString &sourceName);
    void updateItem(qlonglong id, const QVariantMap &parameters);

    // com.halvex.home.EventFeedControl
    QString itemsJson();
    QString callsJson();
    void setAddItemAnswer(const QString &mode);
    void setReplyDelay(int milliseconds);
    void requestRefresh();
    void reset();

signals:
    void refreshRequested();
    // The bus connection went away after publish().
    void connectionLost();

private:
    enum class AddItemAnswer { Id, MinusOne, Error };

    struct Item
    {
        qint64 id = 0;
        QVariantMap parameters;
        QDateTime received;
    };

    bool acceptCall(const QString &path, const QString &method, const QVariantList &arguments);
    void answer(const QVariant &value);
    void answerError(const QString &name, const QString &text);
    void deliverLater(const QDBusMessage &reply);
    QByteArray serializedItems() const;
    void itemsChanged();
    void checkConnection();

    QVector<Item> mItems; // oldest first
    QJsonArray mCalls;
    qint64 mNextId = 1;
    AddItemAnswer mAddItemAnswer = AddItemAnswer::Id;
    int mReplyDelay = 0;
    QString mDumpFile;
    bool mVerbose = false;
    QDBusConnection mConnection;
    QTimer mConnectionCheck;
};
