// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SocialGenericData.h"
#include "SocialProviderError.h"

#include <QDataStream>
#include <QList>
#include <QObject>

// A request of the contacts daemon to a social provider. On the bus it travels as the
// bytes of serialize(): its type, its parameters and, once answered, its result.
// deserialize() reads the same, the result only when bytes follow the parameters, and
// leaves the stream's status set when the bytes are not such a request.
class SocialDataRequest : public QObject
{
    Q_OBJECT

public:
    enum Type {
        AggregatedServices = 1,
        Accounts = 3,
        Persons = 5
    };
    enum State {
        Created = 0,
        Running = 1,
        Finished = 4
    };

    int type() const { return mType; }
    int state() const { return mState; }
    QList<SocialProviderError> errors() const { return mErrors; }

    // serialize() into bytes for the bus, at the framework's stream version.
    QByteArray toBytes() const;
    // deserialize() from bus bytes; false when they are not such a request.
    bool fromBytes(const QByteArray &bytes);

Q_SIGNALS:
    void finished(SocialDataRequest *self);

public Q_SLOTS:
    // Finishing (state 4) emits finished().
    virtual void setState(int state, const QList<SocialProviderError> &errors);
    virtual void serialize(QDataStream &stream) const;
    virtual void deserialize(QDataStream &stream);

protected:
    SocialDataRequest(Type type, QObject *parent);

    virtual void writeParameters(QDataStream &stream) const;
    virtual bool readParameters(QDataStream &stream);
    virtual void writeResult(QDataStream &stream) const = 0;
    virtual bool readResult(QDataStream &stream) = 0;

    // A list of records: its size, then each record.
    template<typename Record>
    static void writeRecords(QDataStream &stream, const QList<Record> &records);
    template<typename Record>
    static bool readRecords(QDataStream &stream, QList<Record> &records);

private:
    const int mType;
    int mState;
    QList<SocialProviderError> mErrors;
};

template<typename Record>
void SocialDataRequest::writeRecords(QDataStream &stream, const QList<Record> &records)
{
    stream << quint32(records.size());
    for (const Record &record : records)
        stream << static_cast<const SocialGenericData &>(record);
}
