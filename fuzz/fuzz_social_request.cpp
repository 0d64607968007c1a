// SPDX-License-Identifier: BSD-3-Clause
// Bytes that any process on the session bus can hand the social provider runner: the
// request kinds' decoding, the record and error decoding, and the runner's handling of
// a whole request with the Twitter plugin behind it (not put on the bus).

#include "FuzzSupport.h"
#include "GetAggregatedServicesRequest.h"
#include "SdpImpl.h"
#include "SocialGetAccountsRequest.h"
#include "SocialGetPersonsRequest.h"
#include "SocialInput.h"
#include "SocialProviderInitializer.h"
#include "TwitterDouble.h"
#include "TwitterPlugin.h"

#include <QCoreApplication>

namespace {

const QString OwnId = QStringLiteral("1318223431118950401");
const QString Own = QStringLiteral("ostra_owner");
// The double records every request; it is emptied now and then to keep memory flat.
const int MaxRecordedRequests = 10000;

SdpImpl *runner = nullptr;
TwitterPlugin *plugin = nullptr;
SdpImpl *runnerWithoutFriends = nullptr;

QVariantMap friendNamed(const QString &id, const QString &screenName, const QString &name)
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("id_str"), id},
            {QStringLiteral("screen_name"), screenName},
            {QStringLiteral("name"), name},
            {QStringLiteral("url"), QString(QStringLiteral("https://t.co/") + screenName)},
            {QStringLiteral("description"), QStringLiteral("Maps, data & <markup>")},
            {QStringLiteral("location"), QStringLiteral("Berlin")}};
}

// The client's cache as the plugin reads it: a few friends (the own account among
// them), avatars and a latest status for each.
void scriptClient()
{
    TwitterDouble::reset();
    TwitterDouble::Answer friends;
    friends.cached = {friendNamed(OwnId, Own, QStringLiteral("Owner")),
                      friendNamed(QStringLiteral("1196541877436579841"), QStringLiteral("AliceInData"),
                                  QStringLiteral("Alice Example")),
                      friendNamed(QStringLiteral("1196541877436579842"), QStringLiteral("bob"), QString()),
                      friendNamed(QStringLiteral("1196541877436579843"), QStringLiteral("Ünïcødé_ß"),
                                  QStringLiteral("名前"))};
    TwitterDouble::setDefault(TwitterDouble::User, UserType::FriendsList, friends);
    TwitterDouble::setResponder(TwitterDouble::User, UserType::ProfileImage, [](const TwitterDouble::Request &request) {
        TwitterDouble::Answer avatar;
        avatar.cached = {QString(QStringLiteral("/avatars/") + request.args.value(QStringLiteral("screen_name"))
                                 + QStringLiteral(".png"))};
        return avatar;
    });
    TwitterDouble::setResponder(TwitterDouble::User, UserType::UserShow, [](const TwitterDouble::Request &) {
        TwitterDouble::Answer user;
        user.cached = {QVariantMap{{QStringLiteral("status"),
                                    QVariantMap{{QStringLiteral("text"), QStringLiteral("Latest tweet")},
                                                {QStringLiteral("created_at"),
                                                 QStringLiteral("Sun Dec 06 05:40:12 +0000 2026")}}}}};
        return user;
    });
}

template<typename Request>
void decodeRequest(const QByteArray &bytes)
{
    QDataStream in(bytes);
    in.setVersion(SocialStreamVersion);
    Request request;
    request.deserialize(in);
    if (in.status() != QDataStream::Ok)
        return;
    // What was read must encode again.
    QByteArray encoded;
    QDataStream out(&encoded, QIODevice::WriteOnly);
    out.setVersion(SocialStreamVersion);
    request.serialize(out);
}

template<typename Value>
void decodeValue(const QByteArray &bytes)
{
    QDataStream in(bytes);
    in.setVersion(SocialStreamVersion);
    Value value;
    in >> value;
    if (in.status() != QDataStream::Ok)
        return;
    QByteArray encoded;
    QDataStream out(&encoded, QIODevice::WriteOnly);
    out.setVersion(SocialStreamVersion);
    out << value;
}

}

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    FuzzSupport::start((*argv)[0]);
    SocialProviderInitializer::init();
    scriptClient();
    static Tw::Twitter *client = new Tw::Twitter(QStringLiteral("t"), QStringLiteral("s"), OwnId, Own,
                                                 QStringLiteral("k"), QStringLiteral("c"));
    plugin = new TwitterPlugin(client);
    plugin->setAccountInfo(QStringLiteral("t"), QStringLiteral("s"), OwnId, Own);
    plugin->updateData(true, false);
    // Owns the plugin; init() is not called, so nothing goes on a bus.
    runner = new SdpImpl(plugin, nullptr);
    // Logged in, before the first friends import.
    auto *withoutFriends = new TwitterPlugin(client);
    withoutFriends->setAccountInfo(QStringLiteral("t"), QStringLiteral("s"), OwnId, Own);
    runnerWithoutFriends = new SdpImpl(withoutFriends, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSupport::Reader reader(data, size);
    const int selector = reader.byte() % SocialInput::SelectorCount;
    switch (selector) {
    case SocialInput::Services:
        decodeRequest<GetAggregatedServicesRequest>(reader.rest());
        break;
    case SocialInput::Accounts:
        decodeRequest<SocialGetAccountsRequest>(reader.rest());
        break;
    case SocialInput::Persons:
        decodeRequest<SocialGetPersonsRequest>(reader.rest());
        break;
    case SocialInput::Record:
        decodeValue<SocialGenericData>(reader.rest());
        break;
    case SocialInput::Error:
        decodeValue<SocialProviderError>(reader.rest());
        break;
    case SocialInput::Runner:
    case SocialInput::RunnerWithoutFriends: {
        const int type = qint8(reader.byte());
        SdpImpl *target = selector == SocialInput::Runner ? runner : runnerWithoutFriends;
        target->performRequest(type, QStringLiteral("fuzz"), reader.rest());
        // Answered requests are deleted later, as by the daemon's event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        break;
    }
    }
    if (TwitterDouble::requests().size() > MaxRecordedRequests) {
        scriptClient();
        plugin->updateData(true, false);
    }
    return 0;
}
