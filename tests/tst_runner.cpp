// SPDX-License-Identifier: BSD-3-Clause
// The social provider's runner on a private bus, with a second connection playing the
// contacts daemon: the interface it shows, requests answered with encoded results and
// errors, crafted bytes refused, the provider's updates relayed.

#include "GetAggregatedServicesRequest.h"
#include "PrivateBus.h"
#include "SdpImpl.h"
#include "SocialGetAccountsRequest.h"
#include "SocialGetPersonsRequest.h"
#include "TestEnvironment.h"
#include "TwitterDouble.h"
#include "TwitterPlugin.h"
#include "runnerinterface.h"

#include <QDBusReply>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QXmlStreamReader>

namespace {

const QString Service = QStringLiteral("com.halvex.socialprovider.twitter");
const QString Path = QStringLiteral("/twitter");


// The runner lives in this process: a blocking call would wait on the very thread that
// has to answer it, so every call is waited for in the event loop.
template<typename Reply>
Reply answered(Reply reply)
{
    QDBusPendingCallWatcher watcher(reply);
    QSignalSpy done(&watcher, &QDBusPendingCallWatcher::finished);
    if (!watcher.isFinished())
        done.wait();
    return reply;
}

// The bytes of docs/dbus.md's fenced block "```hex name": hex digits, "#" starting a comment.
QByteArray documentedBytes(const QString &name)
{
    QFile readme(QStringLiteral(WIRE_FORMAT_FILE));
    const QString text = readme.open(QIODevice::ReadOnly) ? QString::fromUtf8(readme.readAll()) : QString();
    const QString start = QStringLiteral("```hex ") + name + QLatin1Char('\n');
    const int from = text.indexOf(start) + start.size();
    QByteArray hex;
    for (const QString &line : text.mid(from, text.indexOf(QStringLiteral("```"), from) - from).split(QLatin1Char('\n')))
        hex += line.section(QLatin1Char('#'), 0, 0).remove(QLatin1Char(' ')).toLatin1();
    return name.isEmpty() || from < start.size() ? QByteArray() : QByteArray::fromHex(hex);
}


// A provider that finishes requests only when told to, with the errors given.
class HeldProvider : public SocialProviderInterface
{
public:
    QList<SocialDataRequest *> held;
    void performRequest(SocialDataRequest *request) override { held.append(request); }
};

}

class TestRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void interfaceShowsItsMembers();
    void personsRequestIsAnswered();
    void servicesAndAccountsComeFromTheBase();
    void documentedExamplesAreAnswered_data();
    void documentedExamplesAreAnswered();
    void unknownTypeIsRefusedAtOnce();
    void craftedBytesAreRefused_data();
    void craftedBytesAreRefused();
    void updatesAreRelayedAsRecords();
    void requestsAreTrackedByObject();
    void withoutProviderNothingIsReady();
    void costlyFilterIsGivenUp();

private:
    QList<QVariant> request(int type, const QString &id, const QByteArray &bytes);

    TestEnvironment mEnvironment;
    PrivateBus mBus;
    QScopedPointer<Tw::Twitter> mClient;
    TwitterPlugin *mPlugin = nullptr;
    QScopedPointer<SdpImpl> mRunner;
    QScopedPointer<ComHalvexSocialproviderRunnerInterface> mRosterd;
};

void TestRunner::initTestCase()
{
    mEnvironment.applyToProcess();
    qputenv("DBUS_SESSION_BUS_ADDRESS", mBus.address().toUtf8());
    TwitterDouble::Answer friends;
    friends.cached = {QVariantMap{{QStringLiteral("id"), QStringLiteral("1")}, {QStringLiteral("screen_name"), QStringLiteral("alice")}},
                      QVariantMap{{QStringLiteral("id"), QStringLiteral("2")}, {QStringLiteral("screen_name"), QStringLiteral("bob")}}};
    TwitterDouble::setDefault(TwitterDouble::User, UserType::FriendsList, friends);
    mClient.reset(new Tw::Twitter(QString(), QString(), QString(), QString(), QString(), QString()));
    mPlugin = new TwitterPlugin(mClient.data());
    mPlugin->setAccountInfo(QStringLiteral("t"), QStringLiteral("s"), QStringLiteral("9"), QStringLiteral("owner"));
    mRunner.reset(new SdpImpl(mPlugin, nullptr));
    QVERIFY(mRunner->init());
    mRosterd.reset(new ComHalvexSocialproviderRunnerInterface(Service, Path, mBus.connection(QStringLiteral("rosterd"))));
}

void TestRunner::cleanupTestCase()
{
    mRunner.reset(); // deletes the plugin
}

// Sends a request as the contacts daemon and returns the requestFinished that answers it.
QList<QVariant> TestRunner::request(int type, const QString &id, const QByteArray &bytes)
{
    QSignalSpy finished(mRosterd.data(), &ComHalvexSocialproviderRunnerInterface::requestFinished);
    QDBusPendingReply<> reply = mRosterd->performRequest(type, id, bytes);
    if (!finished.wait() || finished.count() != 1)
        return {};
    return finished.first();
}

void TestRunner::interfaceShowsItsMembers()
{
    const QDBusMessage introspect = QDBusMessage::createMethodCall(
        Service, Path, QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    const QString xml = answered(QDBusPendingReply<QString>(mBus.connection(QStringLiteral("rosterd")).asyncCall(introspect))).value();
    QStringList members;
    QXmlStreamReader reader(xml);
    bool inRunner = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("interface"))
            inRunner = reader.attributes().value(QLatin1String("name")) == QLatin1String("com.halvex.socialprovider.runner");
        else if (inRunner && reader.isStartElement() && (reader.name() == QLatin1String("method") || reader.name() == QLatin1String("signal")))
            members.append(reader.attributes().value(QLatin1String("name")).toString());
    }
    members.sort();
    QCOMPARE(members, QStringList({QStringLiteral("activityUpdate"), QStringLiteral("dataUpdate"), QStringLiteral("metaData"),
                                   QStringLiteral("performRequest"), QStringLiteral("personsUpdate"), QStringLiteral("requestFinished")}));
    const QVariantMap meta = answered(mRosterd->metaData()).value();
    QCOMPARE(meta.value(QStringLiteral("name")).toString(), QStringLiteral("twitter"));
    QCOMPARE(meta.size(), 4);
}

void TestRunner::personsRequestIsAnswered()
{
    SocialGetPersonsRequest before;
    QList<QVariant> answer = request(5, QStringLiteral("early"), before.toBytes());
    QVERIFY(before.fromBytes(answer.value(2).toByteArray()));
    QVERIFY(before.persons().isEmpty()); // no friends retrieved yet, and no error
    QVERIFY(answer.value(3).toByteArray().isEmpty());

    mPlugin->updateData(true, false);
    SocialGetPersonsRequest filtered;
    filtered.setPropertyFilter({{QStringLiteral("ScreenName"), QRegExp(QStringLiteral("@b.*"))}});
    answer = request(5, QStringLiteral("req-1"), filtered.toBytes());
    QCOMPARE(answer.value(0).toInt(), 5);
    QCOMPARE(answer.value(1).toString(), QStringLiteral("req-1"));
    SocialGetPersonsRequest decoded;
    QVERIFY(decoded.fromBytes(answer.value(2).toByteArray()));
    QCOMPARE(decoded.persons().size(), 1);
    QCOMPARE(decoded.persons().first().id(), QStringLiteral("twitter:owner:bob"));
    QCOMPARE(decoded.propertyFilter().value(QStringLiteral("ScreenName")).pattern(), QStringLiteral("@b.*"));
    QCOMPARE(answer.value(3).toByteArray(), QByteArray());
}

void TestRunner::servicesAndAccountsComeFromTheBase()
{
    GetAggregatedServicesRequest services;
    QVERIFY(services.fromBytes(request(1, QStringLiteral("s"), services.toBytes()).value(2).toByteArray()));
    QCOMPARE(services.services().first().property(SocialService::ProviderName), QStringLiteral("twitter"));
    SocialGetAccountsRequest accounts;
    QVERIFY(accounts.fromBytes(request(3, QStringLiteral("a"), accounts.toBytes()).value(2).toByteArray()));
    QCOMPARE(accounts.accounts().first().id(), QStringLiteral("twitter:owner"));
}

// What a contacts daemon reads in docs/dbus.md is what the runner takes and answers, byte
// for byte: the owner's friends are alice and bob.
void TestRunner::documentedExamplesAreAnswered_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("error");
    QTest::newRow("services") << 1 << "services-request" << "services-answer" << "";
    QTest::newRow("accounts") << 3 << "accounts-request" << "accounts-answer" << "";
    QTest::newRow("persons") << 5 << "persons-request" << "persons-answer" << "";
    QTest::newRow("unreadable") << 5 << "unreadable-request" << "unreadable-request" << "error-record";
}

void TestRunner::documentedExamplesAreAnswered()
{
    QFETCH(int, type);
    QFETCH(QString, request);
    QFETCH(QString, answer);
    QFETCH(QString, error);
    mPlugin->updateData(true, false);
    const QByteArray bytes = documentedBytes(request);
    QVERIFY(!bytes.isEmpty() && !documentedBytes(answer).isEmpty());
    const QList<QVariant> reply = this->request(type, QStringLiteral("readme"), bytes);
    QCOMPARE(reply.value(0).toInt(), type);
    QCOMPARE(reply.value(2).toByteArray().toHex(), documentedBytes(answer).toHex());
    QCOMPARE(reply.value(3).toByteArray().toHex(), documentedBytes(error).toHex());
}

void TestRunner::unknownTypeIsRefusedAtOnce()
{
    const QByteArray bytes("anything at all");
    const QList<QVariant> answer = request(2, QStringLiteral("x"), bytes);
    QCOMPARE(answer.value(0).toInt(), 2);
    QCOMPARE(answer.value(1).toString(), QStringLiteral("x"));
    QCOMPARE(answer.value(2).toByteArray(), bytes);
    QCOMPARE(SocialProviderError::fromBytes(answer.value(3).toByteArray()),
             SocialProviderError(1, QStringLiteral("void SdpImpl::performRequest(int, const QString&, const QByteArray&)")));
}

void TestRunner::craftedBytesAreRefused_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("bytes");
    QByteArray hugeCount;
    {
        QDataStream stream(&hugeCount, QIODevice::WriteOnly);
        stream << qint32(5) << quint32(0xfffffff0);
    }
    QByteArray hugeString;
    {
        QDataStream stream(&hugeString, QIODevice::WriteOnly);
        stream << qint32(5) << quint32(1) << quint32(0x7ffffff0);
    }
    // Filters whose expressions would take seconds and hundreds of megabytes to build,
    // or more; written by hand, as building them here would take as long.
    const auto filtered = [](const QStringList &patterns) {
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream << qint32(5) << quint32(patterns.size());
        for (int i = 0; i < patterns.size(); ++i)
            stream << QString::number(i) << patterns.at(i);
        return bytes;
    };
    QTest::newRow("million-character pattern") << 5 << filtered({QString(1000000, QLatin1Char('a'))});
    QTest::newRow("nested repetitions") << 5 << filtered({QStringLiteral("(a{1000}){1000}")});
    QTest::newRow("64 choices") << 5 << filtered({QStringLiteral("(.?){64}")});
    QTest::newRow("17 patterns") << 5 << filtered(QVector<QString>(17, QStringLiteral(".*")).toList());
    QTest::newRow("empty persons") << 5 << QByteArray();
    QTest::newRow("garbage accounts") << 3 << QByteArray(64, '\xee');
    QTest::newRow("huge count") << 5 << hugeCount;
    QTest::newRow("huge string") << 5 << hugeString;
    QTest::newRow("truncated services") << 1 << QByteArray("\x00\x00", 2);
    // Persons requests cut short or lying about their sizes, and another kind's bytes.
    const auto written = [](qint32 kind, const std::function<void(QDataStream &)> &write) {
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream.setVersion(SocialStreamVersion);
        stream << kind;
        write(stream);
        return bytes;
    };
    QTest::newRow("odd key length") << 5 << written(5, [](QDataStream &s) { s << quint32(1) << quint32(3) << quint8(1) << quint16(2); });
    QTest::newRow("huge person count") << 5 << written(5, [](QDataStream &s) { s << quint32(0) << quint32(0xffffffff); });
    QTest::newRow("person truncated") << 5 << written(5, [](QDataStream &s) {
        s << quint32(0) << quint32(1) << QStringLiteral("SocialNetworkPerson") << quint32(40);
    });
    QTest::newRow("accounts bytes as persons") << 5 << written(3, [](QDataStream &s) { s << quint32(0) << quint32(0); });
}

void TestRunner::craftedBytesAreRefused()
{
    QFETCH(int, type);
    QFETCH(QByteArray, bytes);
    const QList<QVariant> answer = request(type, QStringLiteral("bad"), bytes);
    QCOMPARE(answer.value(0).toInt(), type);
    QCOMPARE(answer.value(2).toByteArray(), bytes);
    QCOMPARE(SocialProviderError::fromBytes(answer.value(3).toByteArray()), SocialProviderError(1, QStringLiteral("The request could not be read")));
    // The runner is still there to answer.
    QCOMPARE(answered(mRosterd->metaData()).value().size(), 4);
}

void TestRunner::updatesAreRelayedAsRecords()
{
    QSignalSpy persons(mRosterd.data(), &ComHalvexSocialproviderRunnerInterface::personsUpdate);
    SocialNetworkPerson bob;
    bob.setProperty(SocialGenericData::Id, QStringLiteral("twitter:owner:bob"));
    emit mPlugin->personsUpdate({bob}, {SocialNetworkPerson::FirstName});
    QVERIFY(persons.wait());
    const QVariantList data = persons.first().at(0).toList();
    QCOMPARE(data.size(), 1);
    QDataStream stream(data.first().toByteArray());
    stream.setVersion(SocialStreamVersion);
    SocialGenericData decoded;
    stream >> decoded;
    QCOMPARE(decoded.id(), QStringLiteral("twitter:owner:bob"));
    QCOMPARE(persons.first().at(1).toStringList(), QStringList{SocialNetworkPerson::FirstName});

    QSignalSpy data2(mRosterd.data(), &ComHalvexSocialproviderRunnerInterface::dataUpdate);
    emit mPlugin->dataUpdate({}, {});
    QVERIFY(data2.wait());
    QVERIFY(data2.first().at(0).toList().isEmpty());
}

void TestRunner::requestsAreTrackedByObject()
{
    auto *provider = new HeldProvider;
    SdpImpl runner(provider, nullptr); // not on the bus: its signals are enough here
    QSignalSpy finished(&runner, &SdpImpl::requestFinished);
    SocialGetAccountsRequest accounts;
    runner.performRequest(3, QStringLiteral("same"), accounts.toBytes());
    runner.performRequest(3, QStringLiteral("same"), accounts.toBytes());
    QCOMPARE(provider->held.size(), 2);

    provider->held.at(1)->setState(SocialDataRequest::Finished,
                                   {SocialProviderError(3, QStringLiteral("first")), SocialProviderError(4, QStringLiteral("second"))});
    provider->held.at(0)->setState(SocialDataRequest::Finished, {});
    QCOMPARE(finished.count(), 2);
    QCOMPARE(finished.at(0).at(1).toString(), QStringLiteral("same"));
    QCOMPARE(SocialProviderError::fromBytes(finished.at(0).at(3).toByteArray()), SocialProviderError(3, QStringLiteral("first")));
    QCOMPARE(finished.at(1).at(1).toString(), QStringLiteral("same"));
    QCOMPARE(finished.at(1).at(3).toByteArray().size(), 0);
}

void TestRunner::withoutProviderNothingIsReady()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("interface == NULL")));
    SdpImpl runner(nullptr, nullptr);
    QSignalSpy finished(&runner, &SdpImpl::requestFinished);
    runner.performRequest(5, QStringLiteral("n"), QByteArray("xyz"));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(2).toByteArray(), QByteArray("xyz"));
    QCOMPARE(SocialProviderError::fromBytes(finished.first().at(3).toByteArray()), SocialProviderError(6, QStringLiteral("Handler not ready")));
    QCOMPARE(runner.metaData().size(), 4);
    // The path is the first runner's: this one cannot serve, and leaves it serving.
    QVERIFY(!runner.init());
}

// An expression within the bounds that backtracks on long texts: some 2 ms a person,
// seconds for all of them, so the filter is given up instead.
void TestRunner::costlyFilterIsGivenUp()
{
    TwitterDouble::Answer friends;
    for (int i = 0; i < 2000; ++i)
        friends.cached.append(QVariantMap{{QStringLiteral("id"), QString::number(i)},
                                          {QStringLiteral("screen_name"), QStringLiteral("f%1").arg(i)},
                                          {QStringLiteral("description"), QString(280, QLatin1Char('a'))}});
    TwitterDouble::setDefault(TwitterDouble::User, UserType::FriendsList, friends);
    mPlugin->updateData(true, false);
    SocialGetPersonsRequest costly;
    costly.setPropertyFilter({{QStringLiteral("Description"), QRegExp(QStringLiteral("(.*){16}"))}});
    const QList<QVariant> answer = request(5, QStringLiteral("costly"), costly.toBytes());
    QCOMPARE(SocialProviderError::fromBytes(answer.value(3).toByteArray()),
             SocialProviderError(1, QStringLiteral("The filter takes too long")));
    QCOMPARE(answered(mRosterd->metaData()).value().size(), 4);
}

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
