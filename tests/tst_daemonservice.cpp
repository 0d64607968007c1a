// SPDX-License-Identifier: BSD-3-Clause
// The daemon's own bus service, seen from another process: exactly its six methods and
// one signal, each callable, last-seen ids moving only forward, the old adaptor's
// enableNotifications unknown.

#include "DaemonProcess.h"
#include "PrivateBus.h"
#include "TestEnvironment.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <QXmlStreamReader>


namespace {

const QString Service = QStringLiteral("com.halvex.twitterostra");
const QString Path = QStringLiteral("/twitterostra");

// "method name(in types)" and "signal name(types)" of one interface in introspection XML.
QStringList members(const QString &xml, const QString &interface)
{
    QStringList result;
    QXmlStreamReader reader(xml);
    bool inInterface = false;
    QString current;
    QString arguments;
    while (!reader.atEnd()) {
        reader.readNext();
        const QStringRef name = reader.name();
        if (reader.isStartElement() && name == QLatin1String("interface"))
            inInterface = reader.attributes().value(QLatin1String("name")) == interface;
        if (!inInterface)
            continue;
        if (reader.isStartElement() && (name == QLatin1String("method") || name == QLatin1String("signal"))) {
            current = name.toString() + QLatin1Char(' ') + reader.attributes().value(QLatin1String("name"));
            arguments.clear();
        } else if (reader.isStartElement() && name == QLatin1String("arg")) {
            arguments += reader.attributes().value(QLatin1String("type"));
        } else if (reader.isEndElement() && (name == QLatin1String("method") || name == QLatin1String("signal"))) {
            result.append(current + QLatin1Char('(') + arguments + QLatin1Char(')'));
        } else if (reader.isEndElement() && name == QLatin1String("interface")) {
            inInterface = false;
        }
    }
    result.sort();
    return result;
}

}

class TestDaemonService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void interfaceHasExactlyItsMembers();
    void everyMethodAnswers();
    void lastIdsMoveOnlyForward();

private:
    QString storedId(const QString &key) const;

    PrivateBus mBus;
    TestEnvironment mEnvironment;
    DaemonProcess mDaemon;
    QScopedPointer<QDBusInterface> mInterface;
};

void TestDaemonService::initTestCase()
{
    QVERIFY(mBus.isValid());
    mEnvironment.writeDefaultAccount();
    {
        QSettings settings(mEnvironment.daemonSettingsFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("LastIdMessages"), QStringLiteral("700"));
        settings.setValue(QStringLiteral("LastIdMentions"), QStringLiteral("300"));
    }
    mDaemon.start(mEnvironment.processEnvironment(mBus.address()));
    QVERIFY(mBus.waitForName(Service));
    mInterface.reset(new QDBusInterface(Service, Path, Service, mBus.connection()));
}

void TestDaemonService::cleanupTestCase()
{
    QVERIFY(mDaemon.stop());
    const QString log = mDaemon.log();
    // The calls of everyMethodAnswers() reached the daemon's handlers.
    QVERIFY(log.contains(QStringLiteral("void NotificationHandler::setSilent(bool) true")));
    QVERIFY(log.contains(QStringLiteral("void TwitterDaemon::clearMessageNotifications()")));
    QVERIFY(log.contains(QStringLiteral("void TwitterDaemon::clearMentionNotifications()")));
}

QString TestDaemonService::storedId(const QString &key) const
{
    return QSettings(mEnvironment.daemonSettingsFile(), QSettings::IniFormat).value(key).toString();
}

void TestDaemonService::interfaceHasExactlyItsMembers()
{
    const QDBusMessage introspect = QDBusMessage::createMethodCall(
        Service, Path, QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    const QString xml = QDBusReply<QString>(mBus.connection().call(introspect)).value();
    QStringList expected = {"method refreshEventFeed()", "method deleteTweet(s)", "method suspendNotifications(b)",
                            "method clearMessageNotifications()", "method clearMentionNotifications()",
                            "method updateLastId(s)", "signal friendsFetched()"};
    expected.sort();
    QCOMPARE(members(xml, Service), expected);

    QCOMPARE(mInterface->call(QStringLiteral("enableNotifications"), true).errorName(),
             QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"));
    QCOMPARE(mInterface->call(QStringLiteral("onTimer")).errorName(),
             QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"));
}

void TestDaemonService::everyMethodAnswers()
{
    const QList<QPair<QString, QVariantList>> calls = {
        {QStringLiteral("refreshEventFeed"), {}},
        {QStringLiteral("deleteTweet"), {QStringLiteral("1334092880406159360")}},
        {QStringLiteral("suspendNotifications"), {true}},
        {QStringLiteral("clearMessageNotifications"), {}},
        {QStringLiteral("clearMentionNotifications"), {}},
    };
    for (const auto &call : calls) {
        const QDBusMessage reply = mInterface->callWithArgumentList(QDBus::Block, call.first, call.second);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(call.first + reply.errorMessage()));
        QVERIFY(reply.signature().isEmpty());
    }
    // Wrong argument types are the bus's business, not the daemon's.
    QCOMPARE(mInterface->call(QStringLiteral("deleteTweet"), 5).errorName(),
             QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"));
}

void TestDaemonService::lastIdsMoveOnlyForward()
{
    const QString messages = QStringLiteral("LastIdMessages");
    const QString mentions = QStringLiteral("LastIdMentions");
    const auto update = [this](const QString &id) {
        return mInterface->call(QStringLiteral("updateLastId"), id).type() == QDBusMessage::ReplyMessage;
    };
    // Newer than one marker only: only that one moves.
    QVERIFY(update(QStringLiteral("500")));
    QCOMPARE(storedId(messages), QStringLiteral("700"));
    QCOMPARE(storedId(mentions), QStringLiteral("500"));
    // Equal and older ids change nothing.
    QVERIFY(update(QStringLiteral("500")));
    QVERIFY(update(QStringLiteral("99")));
    QCOMPARE(storedId(messages), QStringLiteral("700"));
    QCOMPARE(storedId(mentions), QStringLiteral("500"));
    // Newer than both, and longer: both move.
    QVERIFY(update(QStringLiteral("1000")));
    QCOMPARE(storedId(messages), QStringLiteral("1000"));
    QCOMPARE(storedId(mentions), QStringLiteral("1000"));
    // Until the service's time is known the device's clock judges: tomorrow's id is refused.
    QVERIFY(update(QString::number(quint64(QDateTime::currentMSecsSinceEpoch() + 86400000 - 1288834974657) << 22)));
    QCOMPARE(storedId(mentions), QStringLiteral("1000"));
}

QTEST_GUILESS_MAIN(TestDaemonService)
#include "tst_daemonservice.moc"
