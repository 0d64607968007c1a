// SPDX-License-Identifier: BSD-3-Clause
#include "ReferenceEventFeed.h"

#include "eventfeedadaptor.h"
#include "eventfeedcontroladaptor.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

const QString RefusedError = QStringLiteral("com.halvex.home.EventFeed.Error.Refused");
const QString SourceNameKey = QStringLiteral("sourceName");

// D-Bus itself limits nesting to 64 containers; this only guards direct C++ callers.
constexpr int MaxDepth = 128;
// Longest line --verbose prints; the rest of a call is cut off.
constexpr int MaxVerboseLine = 2000;
constexpr int ConnectionCheckInterval = 1000;

QVariant plainValue(const QVariant &value, int depth);

// Reads the complex value (array, map or structure) the argument is positioned at.
QVariant plainArgument(const QDBusArgument &argument, int depth)
{
    if (depth > MaxDepth)
        return QVariant();
    switch (argument.currentType()) {
    case QDBusArgument::MapType: {
        QVariantMap map;
        argument.beginMap();
        while (!argument.atEnd()) {
            argument.beginMapEntry();
            const QVariant key = plainValue(argument.asVariant(), depth + 1);
            const QVariant value = plainValue(argument.asVariant(), depth + 1);
            argument.endMapEntry();
            map.insert(key.toString(), value);
        }
        argument.endMap();
        return map;
    }
    case QDBusArgument::ArrayType: {
        QVariantList list;
        argument.beginArray();
        while (!argument.atEnd())
            list.append(plainValue(argument.asVariant(), depth + 1));
        argument.endArray();
        return list;
    }
    case QDBusArgument::StructureType: {
        QVariantList list;
        argument.beginStructure();
        while (!argument.atEnd())
            list.append(plainValue(argument.asVariant(), depth + 1));
        argument.endStructure();
        return list;
    }
    case QDBusArgument::BasicType:
    case QDBusArgument::VariantType:
        return plainValue(argument.asVariant(), depth + 1);
    case QDBusArgument::MapEntryType: // only inside maps, read above
    case QDBusArgument::UnknownType:
        break;
    }
    return QVariant();
}

// Turns what QtDBus delivers (QDBusArgument, QDBusVariant, object paths, ...) into plain
// maps, lists, strings, byte arrays and numbers. Each QDBusArgument is read exactly once.
QVariant plainValue(const QVariant &value, int depth)
{
    if (depth > MaxDepth)
        return QVariant();
    const int type = value.userType();
    if (type == qMetaTypeId<QDBusArgument>())
        return plainArgument(value.value<QDBusArgument>(), depth + 1);
    if (type == qMetaTypeId<QDBusVariant>())
        return plainValue(value.value<QDBusVariant>().variant(), depth + 1);
    if (type == qMetaTypeId<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    if (type == qMetaTypeId<QDBusSignature>())
        return value.value<QDBusSignature>().signature();
    if (type == qMetaTypeId<QDBusUnixFileDescriptor>())
        return QVariant(); // do not keep other processes' file descriptors open
    if (type == QMetaType::QVariantMap) {
        const QVariantMap in = value.toMap();
        QVariantMap out;
        for (auto it = in.cbegin(); it != in.cend(); ++it)
            out.insert(it.key(), plainValue(it.value(), depth + 1));
        return out;
    }
    if (type == QMetaType::QVariantList) {
        const QVariantList in = value.toList();
        QVariantList out;
        out.reserve(in.size());
        for (const QVariant &element : in)
            out.append(plainValue(element, depth + 1));
        return out;
    }
    return value;
}

QVariantMap plainMap(const QVariantMap &map)
{
    return plainValue(map, 0).toMap();
}

// JSON for a plain value: maps become objects, byte arrays Base64 strings, numbers numbers;
// everything else goes through QJsonValue::fromVariant.
QJsonValue toJson(const QVariant &value, int depth = 0)
{
    if (depth > MaxDepth)
        return QJsonValue();
    switch (value.userType()) {
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        QJsonObject object;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            object.insert(it.key(), toJson(it.value(), depth + 1));
        return object;
    }
    case QMetaType::QVariantList: {
        QJsonArray array;
        const QVariantList list = value.toList();
        for (const QVariant &element : list)
            array.append(toJson(element, depth + 1));
        return array;
    }
    case QMetaType::QByteArray:
        return QString::fromLatin1(value.toByteArray().toBase64());
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return QJsonValue(value.toLongLong());
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong number = value.toULongLong();
        if (number <= qulonglong(std::numeric_limits<qint64>::max()))
            return QJsonValue(qint64(number));
        return QJsonValue(double(number));
    }
    case QMetaType::Float:
    case QMetaType::Double:
        return QJsonValue(value.toDouble());
    default:
        return QJsonValue::fromVariant(value);
    }
}

QString compact(const QJsonArray &array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

} // namespace

ReferenceEventFeed::ReferenceEventFeed(QObject *parent)
    : QObject(parent)
    , mConnection(QString())
{
    new EventFeedAdaptor(this);
    new EventFeedControlAdaptor(this);
    mConnectionCheck.setInterval(ConnectionCheckInterval);
    connect(&mConnectionCheck, &QTimer::timeout, this, &ReferenceEventFeed::checkConnection);
}

ReferenceEventFeed::~ReferenceEventFeed() = default;

QString ReferenceEventFeed::serviceName()
{
    return QStringLiteral("com.halvex.home.EventFeed");
}

QString ReferenceEventFeed::feedPath()
{
    return QStringLiteral("/eventfeed");
}

QString ReferenceEventFeed::controlPath()
{
    return QStringLiteral("/control");
}

void ReferenceEventFeed::setDumpFile(const QString &path)
{
    mDumpFile = path;
    itemsChanged(); // the file shows the current (empty) state from the start
}

void ReferenceEventFeed::setVerbose(bool verbose)
{
    mVerbose = verbose;
}

bool ReferenceEventFeed::publish(QDBusConnection connection)
{
    if (!connection.isConnected()) {
        qCritical() << Q_FUNC_INFO << "not connected to the session bus:"
                    << connection.lastError().message();
        return false;
    }
    // The objects come first: a client that sees the name can call at once.
    for (const QString &path : {feedPath(), controlPath()}) {
        if (!connection.registerObject(path, this, QDBusConnection::ExportAdaptors)) {
            qCritical() << Q_FUNC_INFO << "cannot register the object at" << path;
            return false;
        }
    }
    if (!connection.registerService(serviceName())) {
        qCritical() << Q_FUNC_INFO << "cannot own the name" << serviceName()
                    << "- is another event feed running?";
        connection.unregisterObject(feedPath());
        connection.unregisterObject(controlPath());
        return false;
    }
    mConnection = connection;
    mConnectionCheck.start();
    qDebug() << Q_FUNC_INFO << "serving" << serviceName() << "on" << connection.baseService();
    return true;
}

qlonglong ReferenceEventFeed::addItem(const QVariantMap &parameters)
{
    const QVariantMap item = plainMap(parameters);
    if (!acceptCall(feedPath(), QStringLiteral("addItem"), {item}))
        return -1;

    switch (mAddItemAnswer) {
    case AddItemAnswer::Error:
        answerError(RefusedError, QStringLiteral("addItem refused on request"));
        return -1;
    case AddItemAnswer::MinusOne:
        answer(qlonglong(-1));
        return -1;
    case AddItemAnswer::Id:
        break;
    }

    const qint64 id = mNextId++;
    mItems.append({id, item, QDateTime::currentDateTimeUtc()});
    itemsChanged();
    answer(qlonglong(id));
    return id;
}

void ReferenceEventFeed::removeItem(qlonglong id)
{
    if (!acceptCall(feedPath(), QStringLiteral("removeItem"), {id}))
        return;
    const auto it = std::find_if(mItems.begin(), mItems.end(),
                                 [id](const Item &item) { return item.id == id; });
    if (it != mItems.end()) {
        mItems.erase(it);
        itemsChanged();
    }
    answer(QVariant());
}

void ReferenceEventFeed::removeItemsBySourceName(const QString &sourceName)
{
    if (!acceptCall(feedPath(), QStringLiteral("removeItemsBySourceName"), {sourceName}))
        return;
    const auto matches = [&sourceName](const Item &item) {
        const QVariant value = item.parameters.value(SourceNameKey);
        return value.userType() == QMetaType::QString && value.toString() == sourceName;
    };
    const auto firstRemoved = std::remove_if(mItems.begin(), mItems.end(), matches);
    if (firstRemoved != mItems.end()) {
        mItems.erase(firstRemoved, mItems.end());
        itemsChanged();
    }
    answer(QVariant());
}

void ReferenceEventFeed::updateItem(qlonglong id, const QVariantMap &parameters)
{
    const QVariantMap changes = plainMap(parameters);
    if (!acceptCall(feedPath(), QStringLiteral("updateItem"), {id, changes}))
        return;
    const auto it = std::find_if(mItems.begin(), mItems.end(),
                                 [id](const Item &item) { return item.id == id; });
    if (it != mItems.end()) {
        for (auto change = changes.cbegin(); change != changes.cend(); ++change)
            it->parameters.insert(change.key(), change.value());
        itemsChanged();
    }
    answer(QVariant());
}

QString ReferenceEventFeed::itemsJson()
{
    if (!acceptCall(controlPath(), QStringLiteral("itemsJson"), {}))
        return QString();
    return QString::fromUtf8(serializedItems());
}

QString ReferenceEventFeed::callsJson()
{
    if (!acceptCall(controlPath(), QStringLiteral("callsJson"), {}))
        return QString();
    return compact(mCalls);
}

void ReferenceEventFeed::setAddItemAnswer(const QString &mode)
{
    if (!acceptCall(controlPath(), QStringLiteral("setAddItemAnswer"), {mode}))
        return;
    if (mode == QLatin1String("id")) {
        mAddItemAnswer = AddItemAnswer::Id;
    } else if (mode == QLatin1String("minus-one")) {
        mAddItemAnswer = AddItemAnswer::MinusOne;
    } else if (mode == QLatin1String("error")) {
        mAddItemAnswer = AddItemAnswer::Error;
    } else {
        qWarning() << Q_FUNC_INFO << "unknown addItem answer" << mode;
        if (calledFromDBus())
            sendErrorReply(QDBusError::InvalidArgs,
                           QStringLiteral("Unknown addItem answer \"%1\"; expected id, minus-one or error")
                               .arg(mode));
        return;
    }
    qDebug() << Q_FUNC_INFO << "addItem answers with" << mode;
}

void ReferenceEventFeed::setReplyDelay(int milliseconds)
{
    if (!acceptCall(controlPath(), QStringLiteral("setReplyDelay"), {milliseconds}))
        return;
    mReplyDelay = milliseconds;
    qDebug() << Q_FUNC_INFO << "feed calls answered"
             << (milliseconds < 0    ? QStringLiteral("never")
                 : milliseconds == 0 ? QStringLiteral("at once")
                                     : QStringLiteral("after %1 ms").arg(milliseconds));
}

void ReferenceEventFeed::requestRefresh()
{
    if (!acceptCall(controlPath(), QStringLiteral("requestRefresh"), {}))
        return;
    emit refreshRequested();
}

void ReferenceEventFeed::reset()
{
    if (!acceptCall(controlPath(), QStringLiteral("reset"), {}))
        return;
    mItems.clear();
    mCalls = QJsonArray();
    mAddItemAnswer = AddItemAnswer::Id;
    mReplyDelay = 0;
    itemsChanged();
    qDebug() << Q_FUNC_INFO << "items and calls forgotten; next id" << mNextId;
}

// Both objects carry both adaptors (they are one QObject); each interface is only
// answered at its own path. Logs feed calls and prints the call when verbose.
bool ReferenceEventFeed::acceptCall(const QString &path, const QString &method,
                                    const QVariantList &arguments)
{
    if (calledFromDBus() && message().path() != path) {
        sendErrorReply(QDBusError::UnknownMethod,
                       QStringLiteral("No method %1 at %2").arg(method, message().path()));
        return false;
    }

    QJsonArray jsonArguments;
    for (const QVariant &argument : arguments)
        jsonArguments.append(toJson(argument));
    if (path == feedPath())
        mCalls.append(QJsonObject{{QStringLiteral("method"), method},
                                  {QStringLiteral("arguments"), jsonArguments}});

    if (mVerbose) {
        QString line = method + QLatin1Char(' ') + compact(jsonArguments);
        if (line.size() > MaxVerboseLine) {
            const int cut = line.size() - MaxVerboseLine;
            line.truncate(MaxVerboseLine);
            line += QStringLiteral("... (%1 more characters)").arg(cut);
        }
        line += QLatin1Char('\n');
        std::fputs(line.toUtf8().constData(), stdout);
        std::fflush(stdout);
    }
    return true;
}

// Sends the answer of a feed call after the reply delay. Without a delay QtDBus sends the
// return value of the method itself.
void ReferenceEventFeed::answer(const QVariant &value)
{
    if (!calledFromDBus() || mReplyDelay == 0)
        return;
    const QDBusMessage reply = value.isValid() ? message().createReply(value)
                                               : message().createReply();
    deliverLater(reply);
}

void ReferenceEventFeed::answerError(const QString &name, const QString &text)
{
    if (!calledFromDBus()) {
        qWarning() << Q_FUNC_INFO << name << text;
        return;
    }
    if (mReplyDelay == 0)
        sendErrorReply(name, text);
    else
        deliverLater(message().createErrorReply(name, text));
}

void ReferenceEventFeed::deliverLater(const QDBusMessage &reply)
{
    setDelayedReply(true);
    if (mReplyDelay < 0)
        return; // never answered: the caller runs into its timeout
    const QDBusConnection bus = connection();
    QTimer::singleShot(mReplyDelay, Qt::PreciseTimer, this, [bus, reply]() {
        if (!bus.send(reply))
            qWarning() << Q_FUNC_INFO << "cannot send the delayed answer to"
                       << reply.service();
    });
}

QByteArray ReferenceEventFeed::serializedItems() const
{
    QJsonArray array;
    for (const Item &item : mItems) {
        array.append(QJsonObject{
            {QStringLiteral("id"), QJsonValue(item.id)},
            {QStringLiteral("received"), item.received.toString(Qt::ISODateWithMs)},
            {QStringLiteral("item"), toJson(item.parameters)},
        });
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

void ReferenceEventFeed::itemsChanged()
{
    if (mDumpFile.isEmpty())
        return;
    QSaveFile file(mDumpFile);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning() << Q_FUNC_INFO << "cannot write" << mDumpFile << file.errorString();
        return;
    }
    file.write(serializedItems());
    if (!file.commit())
        qWarning() << Q_FUNC_INFO << "cannot write" << mDumpFile << file.errorString();
}

void ReferenceEventFeed::checkConnection()
{
    if (mConnection.isConnected())
        return;
    qWarning() << Q_FUNC_INFO << "lost the connection to the bus";
    mConnectionCheck.stop();
    emit connectionLost();
}
