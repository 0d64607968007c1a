// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "Twitter.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

// Test double of the Twitter client's network side: it links in place of the real one.
// A test scripts, per request kind, the status returned, whether a query id is written,
// an immediate answer from the cache and a later result or network error, and reads
// back every request made.
namespace TwitterDouble {

enum Operation { Timeline, User, DirectMessages, Help, TinyUrlImage };

struct Request
{
    Operation operation;
    int type = 0;
    QMap<QString, QString> args;
    int behavior = 0;
    int queryId = -1;
};

struct Answer
{
    enum Later { Nothing, Result, NetworkError };

    int status = Tw::Twitter::RETRIEVE_OK;
    bool writesQueryId = true;
    // Behaviour 0 answer (for help: its first element as the map; for thumbnails: file).
    QVariantList cached;
    QString cachedFile;
    // What follows from the event loop after the call has returned.
    Later later = Nothing;
    QVariantList laterData;
    QString laterFile;
    QVariantMap laterError;
};

// An answer that comes later, by the result signal, with this data.
Answer later(const QVariantList &data);

// Answers for the next requests of a kind, in order; once used up, the kind's responder
// if one is set, else its default.
void enqueue(Operation operation, int type, const Answer &answer);
void setDefault(Operation operation, int type, const Answer &answer);
using Responder = std::function<Answer(const Request &request)>;
void setResponder(Operation operation, int type, const Responder &responder);

QList<Request> requests();
QList<Request> requests(Operation operation, int type);
QList<Request> networkRequests(Operation operation, int type);
// The client built last, or null.
Tw::Twitter *latestClient();
QImage latestMask();
int deleteOldStuffCalls();
int deleteCacheCalls();

// Forgets scripts, requests and counters.
void reset();

}
