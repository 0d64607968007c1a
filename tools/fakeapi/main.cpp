// SPDX-License-Identifier: BSD-3-Clause
// ostra-fake-twitter-api: a loopback stand-in for the Twitter REST API v1.1 for tests and
// demos. The first line on stdout is the port it listens on.

#include "FakeApiServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostra-fake-twitter-api"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Serves the Twitter REST API v1.1 on 127.0.0.1 from fixtures."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port to listen on; 0 for any free one."),
                                  QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption fixtures(QStringLiteral("fixtures"), QStringLiteral("Folder of the API payloads."),
                                      QStringLiteral("dir"), QStringLiteral(FAKEAPI_FIXTURES_DIR));
    const QCommandLineOption consumerKey(QStringLiteral("consumer-key"), QStringLiteral("Accepted consumer key."),
                                         QStringLiteral("key"), QStringLiteral("consumer-key"));
    const QCommandLineOption consumerSecret(QStringLiteral("consumer-secret"), QStringLiteral("Its secret."),
                                            QStringLiteral("secret"), QStringLiteral("consumer-secret"));
    const QCommandLineOption token(QStringLiteral("token"), QStringLiteral("Accepted access token."),
                                   QStringLiteral("token"), QStringLiteral("token"));
    const QCommandLineOption tokenSecret(QStringLiteral("token-secret"), QStringLiteral("Its secret."),
                                         QStringLiteral("secret"), QStringLiteral("token-secret"));
    const QCommandLineOption rateWindow(QStringLiteral("rate-window-seconds"),
                                        QStringLiteral("Length of the rate limits' window; 0 turns the limits off."),
                                        QStringLiteral("seconds"), QString::number(RateLimits::ServiceWindowSeconds));
    const QCommandLineOption verbose(QStringLiteral("verbose"), QStringLiteral("Log every request on stderr."));
    parser.addOptions({port, fixtures, consumerKey, consumerSecret, token, tokenSecret, rateWindow, verbose});
    parser.process(app);

    if (!parser.isSet(verbose))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    bool portOk = false;
    bool windowOk = false;
    FakeApiServer::Options options;
    options.port = parser.value(port).toUShort(&portOk);
    options.rateWindowSeconds = parser.value(rateWindow).toLongLong(&windowOk);
    options.fixturesDir = parser.value(fixtures);
    options.credentials = {parser.value(consumerKey), parser.value(consumerSecret), parser.value(token),
                           parser.value(tokenSecret)};
    QTextStream err(stderr);
    if (!portOk) {
        err << "ostra-fake-twitter-api: not a port: " << parser.value(port) << '\n';
        return 2;
    }
    // Up to a day: a window longer than that is no test's and no service's.
    if (!windowOk || options.rateWindowSeconds < 0 || options.rateWindowSeconds > 86400) {
        err << "ostra-fake-twitter-api: --rate-window-seconds takes 0 to 86400: " << parser.value(rateWindow) << '\n';
        return 2;
    }
    FakeApiServer server(options);
    QString error;
    if (!server.start(&error)) {
        err << "ostra-fake-twitter-api: " << error << '\n';
        return 1;
    }
    QTextStream(stdout) << server.port() << Qt::endl;
    return app.exec();
}
