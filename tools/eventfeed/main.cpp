// SPDX-License-Identifier: BSD-3-Clause
#include "ReferenceEventFeed.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDebug>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostra-eventfeed"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reference home event feed. Owns com.halvex.home.EventFeed on the session bus, serves\n"
        "the feed interface at /eventfeed and the control interface at /control."));
    parser.addHelpOption();
    const QCommandLineOption dumpOption(
        QStringLiteral("dump"),
        QStringLiteral("After every change write the stored items as JSON to <file>."),
        QStringLiteral("file"));
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"),
        QStringLiteral("Print every received call on stdout, one line each."));
    parser.addOption(dumpOption);
    parser.addOption(verboseOption);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        qCritical() << Q_FUNC_INFO << "unexpected arguments:" << parser.positionalArguments();
        return 1;
    }

    ReferenceEventFeed feed;
    feed.setVerbose(parser.isSet(verboseOption));
    feed.setDumpFile(parser.value(dumpOption));
    QObject::connect(&feed, &ReferenceEventFeed::connectionLost, &app,
                     [] { QCoreApplication::exit(1); });
    if (!feed.publish(QDBusConnection::sessionBus()))
        return 1;
    return app.exec();
}
