// Runs ostra-eventfeed on a private bus and talks to it like a client would.

#include "PrivateBus.h"
#include "eventfeedcontrolinterface.h"
#include "eventfeedinterface.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusSignature>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <limits>
#include <memory>

namespace {

const QString ServiceName = QStringLiteral("com.halvex.home.EventFeed");
const QString FeedInterface = QStringLiteral("com.halvex.home.EventFeed");
const QString FeedPath = QStringLiteral("/eventfeed");
const QString ControlPath = QStringLiteral("/control");
const QString RefusedError = QStringLiteral("com.halvex.home.EventFeed.Error.Refused");
constexpr int ProcessTimeout = 10000;
constexpr int ReplyDelay = 700;

QJsonArray parseArray(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        qWarning() << Q_FUNC_INFO << "not a JSON array:" << error.errorString() << json.left(200);
        return {};
    }
    return document.array();
}

// Waits for the process to end, through its finished() signal.
bool waitForExit(QProcess &process, int timeoutMs = ProcessTimeout)
{
    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    if (process.state() == QProcess::NotRunning)
        return true;
    return finished.wait(timeoutMs) || process.state() == QProcess::NotRunning;
}

void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    waitForExit(process);
}

// Answers of a pending call, waited for through the watcher's finished() signal.
bool waitForReply(const QDBusPendingCall &call, int timeoutMs = ProcessTimeout)
{
    if (call.isFinished())
        return true;
    QDBusPendingCallWatcher watcher(call);
    QSignalSpy finished(&watcher, &QDBusPendingCallWatcher::finished);
    return watcher.isFinished() || finished.wait(timeoutMs);
}

QJsonObject itemAt(const QJsonArray &items, int index)
{
    return items.at(index).toObject().value(QStringLiteral("item")).toObject();
}

QList<qint64> idsOf(const QJsonArray &items)
{
    QList<qint64> ids;
    for (const QJsonValue &item : items)
        ids.append(qint64(item.toObject().value(QStringLiteral("id")).toDouble()));
    return ids;
}

QStringList methodsOf(const QJsonArray &calls)
{
    QStringList methods;
    for (const QJsonValue &call : calls)
        methods.append(call.toObject().value(QStringLiteral("method")).toString());
    return methods;
}

} // namespace

class tst_ReferenceEventFeed : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void storesItemsWithIncreasingIds();
    void removesItems();
    void answerModes();
    void replyDelay();
    void requestRefreshEmitsSignal();
    void commandLine();
    void startupFailures();
    void hostileArguments();

private:
    void configure(QProcess &process, const QStringList &arguments = {}) const;
    bool startFeed(const QStringList &arguments = {});
    qlonglong add(const QVariantMap &item);
    QJsonArray items();
    QJsonArray calls();

    std::unique_ptr<PrivateBus> mBus;
    std::unique_ptr<QProcess> mTool;
    std::unique_ptr<ComHalvexHomeEventFeedInterface> mFeed;
    std::unique_ptr<ComHalvexHomeEventFeedControlInterface> mControl;
};

void tst_ReferenceEventFeed::initTestCase()
{
    qRegisterMetaType<QProcess::ExitStatus>(); // for QSignalSpy on QProcess::finished
}

void tst_ReferenceEventFeed::init()
{
    mBus = std::make_unique<PrivateBus>();
    QVERIFY2(mBus->isValid(), "cannot start a private dbus-daemon");
}

void tst_ReferenceEventFeed::cleanup()
{
    mFeed.reset();
    mControl.reset();
    if (mTool) {
        stopProcess(*mTool);
        mTool.reset();
    }
    mBus.reset();
}

void tst_ReferenceEventFeed::configure(QProcess &process, const QStringList &arguments) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), mBus->address());
    process.setProcessEnvironment(environment);
    process.setProgram(QStringLiteral(EVENTFEED_BINARY));
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

bool tst_ReferenceEventFeed::startFeed(const QStringList &arguments)
{
    mTool = std::make_unique<QProcess>();
    configure(*mTool, arguments);
    mTool->start();
    if (!mTool->waitForStarted(ProcessTimeout)) {
        qWarning() << Q_FUNC_INFO << "cannot start" << EVENTFEED_BINARY << mTool->errorString();
        return false;
    }
    if (!mBus->waitForName(ServiceName)) {
        qWarning() << Q_FUNC_INFO << ServiceName << "did not appear on the bus";
        return false;
    }
    mFeed = std::make_unique<ComHalvexHomeEventFeedInterface>(ServiceName, FeedPath,
                                                              mBus->connection());
    mControl = std::make_unique<ComHalvexHomeEventFeedControlInterface>(ServiceName, ControlPath,
                                                                        mBus->connection());
    return mFeed->isValid() && mControl->isValid();
}

// addItem; 0 when the call failed.
qlonglong tst_ReferenceEventFeed::add(const QVariantMap &item)
{
    QDBusPendingReply<qlonglong> reply = mFeed->addItem(item);
    reply.waitForFinished();
    if (reply.isError()) {
        qWarning() << Q_FUNC_INFO << reply.error();
        return 0;
    }
    return reply.value();
}

QJsonArray tst_ReferenceEventFeed::items()
{
    QDBusPendingReply<QString> reply = mControl->itemsJson();
    reply.waitForFinished();
    if (reply.isError()) {
        qWarning() << Q_FUNC_INFO << reply.error();
        return {};
    }
    return parseArray(reply.value().toUtf8());
}

QJsonArray tst_ReferenceEventFeed::calls()
{
    QDBusPendingReply<QString> reply = mControl->callsJson();
    reply.waitForFinished();
    if (reply.isError()) {
        qWarning() << Q_FUNC_INFO << reply.error();
        return {};
    }
    return parseArray(reply.value().toUtf8());
}

void tst_ReferenceEventFeed::storesItemsWithIncreasingIds()
{
    QVERIFY(startFeed());
    QCOMPARE(items(), QJsonArray());

    const QDateTime before = QDateTime::currentDateTimeUtc();
    const QVariantMap first{{QStringLiteral("sourceName"), QStringLiteral("twitter")},
                            {QStringLiteral("title"), QStringLiteral("Hello")},
                            {QStringLiteral("count"), 3}};
    QCOMPARE(add(first), 1);
    QCOMPARE(add({{QStringLiteral("title"), QStringLiteral("Second")}}), 2);
    QCOMPARE(add({}), 3);
    const QDateTime after = QDateTime::currentDateTimeUtc();

    QJsonArray stored = items();
    QCOMPARE(stored.size(), 3);
    QCOMPARE(idsOf(stored), (QList<qint64>{1, 2, 3}));
    QCOMPARE(itemAt(stored, 0), (QJsonObject{{QStringLiteral("sourceName"), QStringLiteral("twitter")},
                                             {QStringLiteral("title"), QStringLiteral("Hello")},
                                             {QStringLiteral("count"), 3}}));
    QCOMPARE(itemAt(stored, 2), QJsonObject());
    for (const QJsonValue &item : qAsConst(stored)) {
        const QDateTime received = QDateTime::fromString(
            item.toObject().value(QStringLiteral("received")).toString(), Qt::ISODateWithMs);
        QVERIFY(received.isValid());
        QVERIFY(received >= before.addMSecs(-1));
        QVERIFY(received <= after.addMSecs(1));
    }

    // updateItem merges keys into an existing item and ignores unknown ids.
    const QVariantMap change{{QStringLiteral("title"), QStringLiteral("Changed")},
                             {QStringLiteral("read"), true}};
    QDBusPendingReply<> updated = mFeed->updateItem(1, change);
    updated.waitForFinished();
    QVERIFY(!updated.isError());
    QDBusPendingReply<> unknown = mFeed->updateItem(99, change);
    unknown.waitForFinished();
    QVERIFY(!unknown.isError());
    stored = items();
    QCOMPARE(idsOf(stored), (QList<qint64>{1, 2, 3}));
    QCOMPARE(itemAt(stored, 0), (QJsonObject{{QStringLiteral("sourceName"), QStringLiteral("twitter")},
                                             {QStringLiteral("title"), QStringLiteral("Changed")},
                                             {QStringLiteral("count"), 3},
                                             {QStringLiteral("read"), true}}));
    QCOMPARE(itemAt(stored, 1), (QJsonObject{{QStringLiteral("title"), QStringLiteral("Second")}}));

    // Every feed call is logged, control calls are not.
    const QJsonArray log = calls();
    QCOMPARE(methodsOf(log), (QStringList{QStringLiteral("addItem"), QStringLiteral("addItem"),
                                          QStringLiteral("addItem"), QStringLiteral("updateItem"),
                                          QStringLiteral("updateItem")}));
    QCOMPARE(log.at(0).toObject().value(QStringLiteral("arguments")).toArray(),
             (QJsonArray{QJsonObject{{QStringLiteral("sourceName"), QStringLiteral("twitter")},
                                     {QStringLiteral("title"), QStringLiteral("Hello")},
                                     {QStringLiteral("count"), 3}}}));
    QCOMPARE(log.at(4).toObject().value(QStringLiteral("arguments")).toArray(),
             (QJsonArray{99, QJsonObject{{QStringLiteral("title"), QStringLiteral("Changed")},
                                         {QStringLiteral("read"), true}}}));

    // reset() forgets items, calls and the answer mode, but ids keep increasing.
    mControl->setAddItemAnswer(QStringLiteral("minus-one")).waitForFinished();
    QDBusPendingReply<> reset = mControl->reset();
    reset.waitForFinished();
    QVERIFY(!reset.isError());
    QCOMPARE(items(), QJsonArray());
    QCOMPARE(calls(), QJsonArray());
    QCOMPARE(add({{QStringLiteral("title"), QStringLiteral("After reset")}}), 4);
    QCOMPARE(idsOf(items()), QList<qint64>{4});
}

void tst_ReferenceEventFeed::removesItems()
{
    QVERIFY(startFeed());
    const auto from = [](const QString &source) {
        return QVariantMap{{QStringLiteral("sourceName"), source}};
    };
    QCOMPARE(add(from(QStringLiteral("twitter"))), 1);
    QCOMPARE(add(from(QStringLiteral("other"))), 2);
    QCOMPARE(add(from(QStringLiteral("twitter"))), 3);
    QCOMPARE(add({{QStringLiteral("title"), QStringLiteral("no source")}}), 4);
    QCOMPARE(add(from(QStringLiteral("twitter"))), 5);
    QCOMPARE(add(from(QStringLiteral("twitter-other"))), 6);

    QDBusPendingReply<> removed = mFeed->removeItem(2);
    removed.waitForFinished();
    QVERIFY(!removed.isError());
    QCOMPARE(idsOf(items()), (QList<qint64>{1, 3, 4, 5, 6}));

    // Unknown and already removed ids are no error.
    for (const qlonglong id : {qlonglong(2), qlonglong(999), qlonglong(-1)}) {
        QDBusPendingReply<> again = mFeed->removeItem(id);
        again.waitForFinished();
        QVERIFY(!again.isError());
    }
    QCOMPARE(idsOf(items()), (QList<qint64>{1, 3, 4, 5, 6}));

    QDBusPendingReply<> bySource = mFeed->removeItemsBySourceName(QStringLiteral("twitter"));
    bySource.waitForFinished();
    QVERIFY(!bySource.isError());
    QCOMPARE(idsOf(items()), (QList<qint64>{4, 6}));

    QDBusPendingReply<> nobody = mFeed->removeItemsBySourceName(QStringLiteral("nobody"));
    nobody.waitForFinished();
    QVERIFY(!nobody.isError());
    QCOMPARE(idsOf(items()), (QList<qint64>{4, 6}));

    // Ids are never reused.
    QCOMPARE(add(from(QStringLiteral("twitter"))), 7);

    const QJsonArray log = calls();
    QCOMPARE(log.size(), 13);
    QCOMPARE(log.at(6).toObject(),
             (QJsonObject{{QStringLiteral("method"), QStringLiteral("removeItem")},
                          {QStringLiteral("arguments"), QJsonArray{2}}}));
    QCOMPARE(log.at(10).toObject(),
             (QJsonObject{{QStringLiteral("method"), QStringLiteral("removeItemsBySourceName")},
                          {QStringLiteral("arguments"), QJsonArray{QStringLiteral("twitter")}}}));
}

void tst_ReferenceEventFeed::answerModes()
{
    QVERIFY(startFeed());
    const QVariantMap item{{QStringLiteral("title"), QStringLiteral("x")}};

    QDBusPendingReply<> mode = mControl->setAddItemAnswer(QStringLiteral("minus-one"));
    mode.waitForFinished();
    QVERIFY(!mode.isError());
    QCOMPARE(add(item), -1);
    QCOMPARE(items(), QJsonArray());

    mode = mControl->setAddItemAnswer(QStringLiteral("error"));
    mode.waitForFinished();
    QVERIFY(!mode.isError());
    QDBusPendingReply<qlonglong> refused = mFeed->addItem(item);
    refused.waitForFinished();
    QVERIFY(refused.isError());
    QCOMPARE(refused.error().name(), RefusedError);
    QCOMPARE(items(), QJsonArray());

    // An unknown mode is refused and changes nothing.
    mode = mControl->setAddItemAnswer(QStringLiteral("sometimes"));
    mode.waitForFinished();
    QVERIFY(mode.isError());
    QCOMPARE(mode.error().type(), QDBusError::InvalidArgs);
    refused = mFeed->addItem(item);
    refused.waitForFinished();
    QCOMPARE(refused.error().name(), RefusedError);

    mode = mControl->setAddItemAnswer(QStringLiteral("id"));
    mode.waitForFinished();
    QVERIFY(!mode.isError());
    QCOMPARE(add(item), 1); // refused calls used no id
    QCOMPARE(idsOf(items()), QList<qint64>{1});

    // All four addItem calls were logged, answered or not.
    const QString addItem = QStringLiteral("addItem");
    QCOMPARE(methodsOf(calls()), (QStringList{addItem, addItem, addItem, addItem}));

    // Each interface answers only at its own path.
    QDBusMessage wrongPath = QDBusMessage::createMethodCall(ServiceName, ControlPath, FeedInterface,
                                                            QStringLiteral("removeItem"));
    wrongPath << qlonglong(1);
    const QDBusMessage answer = mBus->connection().call(wrongPath);
    QCOMPARE(answer.type(), QDBusMessage::ErrorMessage);
    QCOMPARE(idsOf(items()), QList<qint64>{1});
    QCOMPARE(calls().size(), 4);
}

void tst_ReferenceEventFeed::replyDelay()
{
    QVERIFY(startFeed());
    QDBusPendingReply<> delay = mControl->setReplyDelay(ReplyDelay);
    delay.waitForFinished();
    QVERIFY(!delay.isError());

    // The answer comes late, but the item is stored at once.
    QElapsedTimer timer;
    timer.start();
    QDBusPendingReply<qlonglong> late = mFeed->addItem({{QStringLiteral("title"), QStringLiteral("late")}});
    QCOMPARE(idsOf(items()), QList<qint64>{1});
    QVERIFY(!late.isFinished());
    QVERIFY(waitForReply(late));
    QVERIFY(timer.elapsed() >= ReplyDelay - 10);
    QVERIFY(!late.isError());
    QCOMPARE(late.value(), 1);

    // Errors and void answers are delayed as well.
    mControl->setAddItemAnswer(QStringLiteral("error")).waitForFinished();
    timer.restart();
    QDBusPendingReply<qlonglong> lateError = mFeed->addItem({});
    QVERIFY(waitForReply(lateError));
    QVERIFY(timer.elapsed() >= ReplyDelay - 10);
    QCOMPARE(lateError.error().name(), RefusedError);
    mControl->setAddItemAnswer(QStringLiteral("id")).waitForFinished();

    timer.restart();
    QDBusPendingReply<> lateRemove = mFeed->removeItem(1);
    QCOMPARE(items(), QJsonArray());
    QVERIFY(waitForReply(lateRemove));
    QVERIFY(timer.elapsed() >= ReplyDelay - 10);
    QVERIFY(!lateRemove.isError());

    // A negative delay never answers: the caller runs into its timeout.
    delay = mControl->setReplyDelay(-1);
    delay.waitForFinished();
    QVERIFY(!delay.isError());
    mFeed->setTimeout(300);
    QDBusPendingReply<qlonglong> never = mFeed->addItem({{QStringLiteral("title"), QStringLiteral("never")}});
    never.waitForFinished();
    QVERIFY(never.isError());
    QVERIFY2(never.error().type() == QDBusError::NoReply || never.error().type() == QDBusError::Timeout,
             qPrintable(never.error().name()));
    QCOMPARE(idsOf(items()), QList<qint64>{2});

    // Zero answers at once again.
    delay = mControl->setReplyDelay(0);
    delay.waitForFinished();
    QVERIFY(!delay.isError());
    QCOMPARE(add({}), 3);

    // reset() also drops the delay.
    mControl->setReplyDelay(-1).waitForFinished();
    mControl->reset().waitForFinished();
    QCOMPARE(add({}), 4);
}

void tst_ReferenceEventFeed::requestRefreshEmitsSignal()
{
    QVERIFY(startFeed());
    QSignalSpy refresh(mFeed.get(), &ComHalvexHomeEventFeedInterface::refreshRequested);
    QVERIFY(refresh.isValid());

    QDBusPendingReply<> request = mControl->requestRefresh();
    request.waitForFinished();
    QVERIFY(!request.isError());
    QTRY_COMPARE(refresh.count(), 1);

    request = mControl->requestRefresh();
    request.waitForFinished();
    QVERIFY(!request.isError());
    QTRY_COMPARE(refresh.count(), 2);

    // Asking for a refresh is no feed call.
    QCOMPARE(calls(), QJsonArray());
}

void tst_ReferenceEventFeed::commandLine()
{
    QProcess help;
    configure(help, {QStringLiteral("--help")});
    help.setProcessChannelMode(QProcess::SeparateChannels);
    help.start();
    QVERIFY(waitForExit(help));
    QCOMPARE(help.exitStatus(), QProcess::NormalExit);
    QCOMPARE(help.exitCode(), 0);
    const QByteArray usage = help.readAllStandardOutput();
    QVERIFY2(usage.contains("--dump") && usage.contains("--verbose"), usage.constData());

    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QString dump = directory.filePath(QStringLiteral("items.json"));
    const auto dumped = [&dump] {
        QFile file(dump);
        return file.open(QIODevice::ReadOnly) ? parseArray(file.readAll()) : QJsonArray();
    };

    QVERIFY(startFeed({QStringLiteral("--dump"), dump, QStringLiteral("--verbose")}));
    QTRY_VERIFY(QFile::exists(dump));
    QCOMPARE(dumped(), QJsonArray());

    QCOMPARE(add({{QStringLiteral("title"), QStringLiteral("dumped")}}), 1);
    const QJsonArray stored = items();
    QCOMPARE(stored.size(), 1);
    QTRY_COMPARE(dumped(), stored);

    QDBusPendingReply<> updated = mFeed->updateItem(1, {{QStringLiteral("title"), QStringLiteral("again")}});
    updated.waitForFinished();
    QTRY_COMPARE(itemAt(dumped(), 0).value(QStringLiteral("title")).toString(), QStringLiteral("again"));

    mFeed->removeItem(1).waitForFinished();
    QTRY_COMPARE(dumped(), QJsonArray());

    // --verbose: one line per received call.
    QByteArray output;
    QTRY_VERIFY((output += mTool->readAllStandardOutput()).contains("removeItem [1]\n"));
    const QList<QByteArray> lines = output.split('\n');
    QVERIFY(lines.size() >= 4);
    QVERIFY2(lines.first().startsWith("addItem ") && lines.first().contains("dumped"),
             lines.first().constData());
    QVERIFY(output.contains("updateItem [1,{\"title\":\"again\"}]\n"));
}

void tst_ReferenceEventFeed::startupFailures()
{
    QVERIFY(startFeed());

    // A second instance cannot own the name and exits with status 1.
    QProcess second;
    configure(second);
    second.start();
    QVERIFY(waitForExit(second));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);
    QCOMPARE(mTool->state(), QProcess::Running);
    QCOMPARE(add({}), 1);

    // Without a bus it exits with status 1 as well.
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    QProcess noBus;
    configure(noBus);
    QProcessEnvironment environment = noBus.processEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + directory.filePath(QStringLiteral("no-bus")));
    noBus.setProcessEnvironment(environment);
    noBus.start();
    QVERIFY(waitForExit(noBus));
    QCOMPARE(noBus.exitStatus(), QProcess::NormalExit);
    QCOMPARE(noBus.exitCode(), 1);

    // When its bus goes away, the running instance ends too.
    mFeed.reset();
    mControl.reset();
    mBus.reset();
    QVERIFY(waitForExit(*mTool));
    QCOMPARE(mTool->exitStatus(), QProcess::NormalExit);
    QCOMPARE(mTool->exitCode(), 1);
}

void tst_ReferenceEventFeed::hostileArguments()
{
    QVERIFY(startFeed());

    constexpr int depth = 16;
    QVariantMap nested{{QStringLiteral("leaf"), QStringLiteral("x")}};
    for (int level = 0; level < depth; ++level)
        nested = QVariantMap{{QStringLiteral("child"), nested}};

    QDBusArgument structure;
    structure.beginStructure();
    structure << 42 << QStringLiteral("s") << QByteArray("\0\xff", 2);
    structure.endStructure();

    QDBusArgument intKeys;
    intKeys.beginMap(QVariant::Int, QVariant::String);
    intKeys.beginMapEntry();
    intKeys << 7 << QStringLiteral("seven");
    intKeys.endMapEntry();
    intKeys.endMap();

    const QString huge(4 * 1024 * 1024, QLatin1Char('h'));
    QVariantMap hostile{
        {QStringLiteral("sourceName"), 12345},
        {QStringLiteral("nested"), nested},
        {QStringLiteral("structure"), QVariant::fromValue(structure)},
        {QStringLiteral("intKeys"), QVariant::fromValue(intKeys)},
        {QStringLiteral("list"), QVariantList{1, QStringLiteral("two"), QByteArray("three"),
                                              QVariantMap{{QStringLiteral("four"), 4}}, QVariantList{}}},
        {QStringLiteral("bytes"), QByteArray("\x00\x01\xfe\xff", 4)},
        {QStringLiteral("huge"), huge},
        {QStringLiteral("path"), QVariant::fromValue(QDBusObjectPath(QStringLiteral("/a/b")))},
        {QStringLiteral("signature"), QVariant::fromValue(QDBusSignature(QStringLiteral("a{sv}")))},
        {QStringLiteral("variantInVariant"),
         QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(5))))},
        {QStringLiteral("ints"), QVariant::fromValue(QList<int>{1, 2, 3})},
        {QStringLiteral("emptyMap"), QVariantMap()},
        {QString(), QStringLiteral("empty key")},
        {QStringLiteral("byte"), QVariant::fromValue(uchar(200))},
        {QStringLiteral("biggest"), std::numeric_limits<qulonglong>::max()},
        {QStringLiteral("notANumber"), std::numeric_limits<double>::quiet_NaN()},
        {QStringLiteral("text\n\"quoted\"\u00e4"), QStringLiteral("\u2028\U0001F600")},
    };
    QTemporaryFile file;
    const bool passFd = mBus->connection().connectionCapabilities()
                        & QDBusConnection::UnixFileDescriptorPassing;
    if (passFd) {
        QVERIFY(file.open());
        hostile.insert(QStringLiteral("fd"), QVariant::fromValue(QDBusUnixFileDescriptor(file.handle())));
    }

    QCOMPARE(add(hostile), 1);
    QDBusPendingReply<> updated = mFeed->updateItem(1, hostile);
    updated.waitForFinished();
    QVERIFY(!updated.isError());
    // A sourceName that is no string matches no name.
    QDBusPendingReply<> bySource = mFeed->removeItemsBySourceName(QStringLiteral("12345"));
    bySource.waitForFinished();
    QVERIFY(!bySource.isError());

    // A call with the wrong signature is refused by QtDBus before it reaches the feed.
    QDBusMessage wrongSignature = QDBusMessage::createMethodCall(ServiceName, FeedPath, FeedInterface,
                                                                 QStringLiteral("addItem"));
    wrongSignature << QStringLiteral("not a map");
    QCOMPARE(mBus->connection().call(wrongSignature).type(), QDBusMessage::ErrorMessage);

    QCOMPARE(mTool->state(), QProcess::Running);
    const QJsonArray stored = items();
    QCOMPARE(idsOf(stored), QList<qint64>{1});
    const QJsonObject item = itemAt(stored, 0);
    QCOMPARE(item.value(QStringLiteral("sourceName")), QJsonValue(12345));
    QJsonObject level = item.value(QStringLiteral("nested")).toObject();
    for (int i = 0; i < depth; ++i)
        level = level.value(QStringLiteral("child")).toObject();
    QCOMPARE(level, (QJsonObject{{QStringLiteral("leaf"), QStringLiteral("x")}}));
    QCOMPARE(item.value(QStringLiteral("structure")),
             QJsonValue(QJsonArray{42, QStringLiteral("s"), QStringLiteral("AP8=")}));
    QCOMPARE(item.value(QStringLiteral("intKeys")),
             QJsonValue(QJsonObject{{QStringLiteral("7"), QStringLiteral("seven")}}));
    QCOMPARE(item.value(QStringLiteral("list")),
             QJsonValue(QJsonArray{1, QStringLiteral("two"), QStringLiteral("dGhyZWU="),
                                   QJsonObject{{QStringLiteral("four"), 4}}, QJsonArray()}));
    QCOMPARE(item.value(QStringLiteral("bytes")), QJsonValue(QStringLiteral("AAH+/w==")));
    QCOMPARE(item.value(QStringLiteral("huge")).toString().size(), huge.size());
    QCOMPARE(item.value(QStringLiteral("path")), QJsonValue(QStringLiteral("/a/b")));
    QCOMPARE(item.value(QStringLiteral("signature")), QJsonValue(QStringLiteral("a{sv}")));
    QCOMPARE(item.value(QStringLiteral("variantInVariant")), QJsonValue(5));
    QCOMPARE(item.value(QStringLiteral("ints")), QJsonValue(QJsonArray{1, 2, 3}));
    QCOMPARE(item.value(QStringLiteral("emptyMap")), QJsonValue(QJsonObject()));
    QCOMPARE(item.value(QString()), QJsonValue(QStringLiteral("empty key")));
    QCOMPARE(item.value(QStringLiteral("byte")), QJsonValue(200));
    QCOMPARE(item.value(QStringLiteral("biggest")).toDouble(),
             double(std::numeric_limits<qulonglong>::max()));
    QVERIFY(item.contains(QStringLiteral("notANumber")));
    QCOMPARE(item.value(QStringLiteral("text\n\"quoted\"\u00e4")),
             QJsonValue(QStringLiteral("\u2028\U0001F600")));
    if (passFd)
        QVERIFY(item.value(QStringLiteral("fd")).isNull());

    const QJsonArray log = calls();
    QCOMPARE(methodsOf(log), (QStringList{QStringLiteral("addItem"), QStringLiteral("updateItem"),
                                          QStringLiteral("removeItemsBySourceName")}));
    const QJsonObject loggedItem =
        log.at(0).toObject().value(QStringLiteral("arguments")).toArray().at(0).toObject();
    QCOMPARE(loggedItem.value(QStringLiteral("bytes")), QJsonValue(QStringLiteral("AAH+/w==")));
    QCOMPARE(loggedItem.value(QStringLiteral("structure")), item.value(QStringLiteral("structure")));

    // Still serving.
    QCOMPARE(add({}), 2);
}

QTEST_GUILESS_MAIN(tst_ReferenceEventFeed)
#include "tst_referenceeventfeed.moc"
