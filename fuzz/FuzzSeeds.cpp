// SPDX-License-Identifier: BSD-3-Clause
// Writes the seed corpora of the fuzz targets from the service's payloads:
//   twitterostra-fuzz-seeds <fixtures folder> <corpus folder>
// makes <corpus folder>/<target>/ for each target, with every fixture file for the JSON
// target, the home timeline's tweets one per file for the feed item target, those
// tweets in the markup target's layout, the timelines' dates, and encodings of real requests, records and
// errors (the friends fixtures as persons) for the social request target.

#include "FuzzSupport.h"
#include "GetAggregatedServicesRequest.h"
#include "SocialGetAccountsRequest.h"
#include "SocialGetPersonsRequest.h"
#include "SocialImportProgress.h"
#include "SocialInput.h"
#include "SocialProviderInitializer.h"
#include "TweetInput.h"
#include "TwJson.h"
#include "TwitterPlugin.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

QDir fixtures;
QDir corpus;
int failures = 0;

QByteArray readFixture(const QString &name)
{
    QFile file(fixtures.filePath(name));
    if (!file.open(QIODevice::ReadOnly)) {
        fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
        ++failures;
        return QByteArray();
    }
    return file.readAll();
}

QVariant parsedFixture(const QString &name)
{
    QString error;
    const QVariant value = TwJson::parse(readFixture(name), &error);
    if (!value.isValid()) {
        fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(error));
        ++failures;
    }
    return value;
}

void writeSeed(const QString &target, const QString &name, const QByteArray &bytes)
{
    const QString folder = corpus.filePath(target);
    QFile file(QDir(folder).filePath(name));
    if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes) != bytes.size()) {
        fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        ++failures;
    }
}

template<typename Value>
QByteArray encoded(const Value &value)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(SocialStreamVersion);
    stream << value;
    return bytes;
}

QByteArray encodedRequest(const SocialDataRequest &request)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(SocialStreamVersion);
    request.serialize(stream);
    return bytes;
}

void jsonSeeds()
{
    const QStringList names = fixtures.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString &name : names)
        writeSeed(QStringLiteral("fuzz_json"), name, readFixture(name));
    if (names.isEmpty()) {
        fprintf(stderr, "no fixtures in %s\n", qPrintable(fixtures.path()));
        ++failures;
    }
}

void tweetSeeds()
{
    // Raw, so that the ids reach the target as the service writes them.
    const QJsonArray raw = QJsonDocument::fromJson(readFixture(QStringLiteral("home_timeline.json"))).array();
    for (int i = 0; i < raw.size(); ++i)
        writeSeed(QStringLiteral("fuzz_feed_item"), QStringLiteral("tweet-%1.json").arg(i, 2, 10, QLatin1Char('0')),
                  QJsonDocument(raw.at(i).toObject()).toJson(QJsonDocument::Compact));

    int count = 0;
    for (const char *timeline : {"home_timeline.json", "mentions_timeline.json"}) {
        const QVariantList tweets = parsedFixture(QLatin1String(timeline)).toList();
        for (const QVariant &entry : tweets) {
            const QVariantMap tweet = entry.toMap();
            const QString avatar =
                tweet.value(QStringLiteral("user")).toMap().value(QStringLiteral("profile_image_url")).toString();
            for (const bool utf16 : {false, true})
                writeSeed(QStringLiteral("fuzz_tweet_markup"), QStringLiteral("tweet-%1").arg(count++, 3, 10, QLatin1Char('0')),
                          TweetInput::write(tweet, avatar, utf16));
        }
    }
}

// Every date of the timelines, in each zone, and the forms around it that a service or
// a fault might send.
void dateSeeds()
{
    QStringList dates = {QStringLiteral("Thu Feb 29 08:00:00 +0000 2024"), QStringLiteral("Sun Mar 29 03:30:00 +0000 2026"),
                         QStringLiteral("Sun Dec 06 05:40:12 -0330 2026"), QStringLiteral("sun dec 6 05:40:12 +0000 2026"),
                         QStringLiteral("Sun Dec 06 24:00:00 +2359 9999"), QStringLiteral("2026-12-06T05:40:12Z")};
    for (const char *timeline : {"home_timeline.json", "mentions_timeline.json", "direct_messages.json"}) {
        for (const QVariant &entry : parsedFixture(QLatin1String(timeline)).toList())
            dates.append(entry.toMap().value(QStringLiteral("created_at")).toString());
    }
    int count = 0;
    for (const QString &date : qAsConst(dates)) {
        for (char zone = 0; zone < 4; ++zone)
            writeSeed(QStringLiteral("fuzz_dates"), QStringLiteral("date-%1").arg(count++, 3, 10, QLatin1Char('0')),
                      QByteArray(1, zone) + date.toUtf8());
    }
}

void socialSeeds()
{
    const QString target = QStringLiteral("fuzz_social_request");
    QVariantList users;
    for (const char *page : {"friends_list_page1.json", "friends_list_page2.json"})
        users += parsedFixture(QLatin1String(page)).toMap().value(QStringLiteral("users")).toList();
    const QVariantMap own = parsedFixture(QStringLiteral("account_verify_credentials.json")).toMap();

    TwitterPlugin plugin(nullptr);
    plugin.setAccountInfo(QStringLiteral("t"), QStringLiteral("s"), own.value(QStringLiteral("id")).toString(),
                          own.value(QStringLiteral("screen_name")).toString());
    QList<SocialNetworkPerson> persons;
    plugin.friendsToPersons(users, &persons, true);
    QList<SocialNetworkPerson> idOnly;
    plugin.friendsToPersons(users, &idOnly, false);

    QList<QPair<int, QByteArray>> requests; // kind, encoding

    GetAggregatedServicesRequest noServices;
    requests.append({SocialDataRequest::AggregatedServices, encodedRequest(noServices)});
    GetAggregatedServicesRequest services;
    services.setServices(plugin.services());
    requests.append({SocialDataRequest::AggregatedServices, encodedRequest(services)});

    SocialGetAccountsRequest noAccounts;
    requests.append({SocialDataRequest::Accounts, encodedRequest(noAccounts)});
    SocialServiceAccount account = plugin.serviceAccount(own.value(QStringLiteral("screen_name")).toString());
    account.setProperty(SocialServiceAccount::State, 3);
    SocialImportProgress progress;
    progress.importing = true;
    progress.count = users.size();
    account.setProperty(SocialServiceAccount::ImportProgress, QVariant::fromValue(progress));
    SocialGetAccountsRequest accounts;
    accounts.setAccounts({account});
    requests.append({SocialDataRequest::Accounts, encodedRequest(accounts)});

    SocialGetPersonsRequest everyone;
    requests.append({SocialDataRequest::Persons, encodedRequest(everyone)});
    SocialGetPersonsRequest filtered;
    filtered.setPropertyFilter({{QStringLiteral("ScreenName"), QRegExp(QStringLiteral("@A.*"))},
                                {SocialGenericData::Id, QRegExp(QStringLiteral("twitter:[^:]+:(\\w+)"))}});
    requests.append({SocialDataRequest::Persons, encodedRequest(filtered)});
    // Counted repetitions at the size the filter allows, so that the fuzzer grows them
    // past it and the matcher's work near the bound is tried.
    SocialGetPersonsRequest repeated;
    repeated.setPropertyFilter({{QStringLiteral("Description"), QRegExp(QStringLiteral("((.?){2}[a-z]{2,3}){4}"))}});
    requests.append({SocialDataRequest::Persons, encodedRequest(repeated)});
    SocialGetPersonsRequest answered;
    answered.setPropertyFilter({{QStringLiteral("Location"), QRegExp(QStringLiteral("Berlin|Paris"))}});
    answered.setPersons(persons);
    requests.append({SocialDataRequest::Persons, encodedRequest(answered)});
    SocialGetPersonsRequest idsOnly;
    idsOnly.setPersons(idOnly);
    requests.append({SocialDataRequest::Persons, encodedRequest(idsOnly)});

    int count = 0;
    auto write = [&](const QByteArray &bytes) {
        writeSeed(target, QStringLiteral("seed-%1").arg(count++, 3, 10, QLatin1Char('0')), bytes);
    };
    for (const auto &request : qAsConst(requests)) {
        const SocialInput::Selector selector = request.first == SocialDataRequest::AggregatedServices
            ? SocialInput::Services
            : request.first == SocialDataRequest::Accounts ? SocialInput::Accounts : SocialInput::Persons;
        write(SocialInput::input(selector, request.second));
        write(SocialInput::runnerInput(request.first, request.second));
        write(SocialInput::runnerInput(request.first, request.second, SocialInput::RunnerWithoutFriends));
    }
    // A kind that is not served.
    write(SocialInput::runnerInput(2, requests.last().second));

    for (const SocialNetworkPerson &person : qAsConst(persons).mid(0, 4))
        write(SocialInput::input(SocialInput::Record, encoded(static_cast<const SocialGenericData &>(person))));
    write(SocialInput::input(SocialInput::Record, encoded(static_cast<const SocialGenericData &>(account))));
    for (const SocialService &service : plugin.services())
        write(SocialInput::input(SocialInput::Record, encoded(static_cast<const SocialGenericData &>(service))));

    write(SocialInput::input(SocialInput::Error, encoded(SocialProviderError(6, QStringLiteral("Handler not ready")))));
    write(SocialInput::input(SocialInput::Error, encoded(SocialProviderError(1, QStringLiteral("The request could not be read")))));
}

}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s <fixtures folder> <corpus folder>\n", argv[0]);
        return 2;
    }
    FuzzSupport::start(argv[0]);
    SocialProviderInitializer::init();
    fixtures = QDir(QString::fromLocal8Bit(argv[1]));
    corpus = QDir(QString::fromLocal8Bit(argv[2]));
    jsonSeeds();
    tweetSeeds();
    dateSeeds();
    socialSeeds();
    return failures == 0 ? 0 : 1;
}
