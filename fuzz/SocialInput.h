// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QByteArray>

// The social request target's input: a selector byte, then bus bytes.
//
//   0, 1, 2  deserialize() of an aggregated services, accounts or persons request
//   3, 4     operator>> of a record (SocialGenericData) or an error (SocialProviderError)
//   5        the runner's performRequest(type, id, bytes); the next byte is the type
//            (1, 3 and 5 are the kinds served, anything else is refused)
//   6        the same with a plugin that has no friends yet: a persons request is then
//            answered with what it brought
namespace SocialInput {

enum Selector {
    Services = 0,
    Accounts = 1,
    Persons = 2,
    Record = 3,
    Error = 4,
    Runner = 5,
    RunnerWithoutFriends = 6,
    SelectorCount = 7
};

inline QByteArray input(Selector selector, const QByteArray &bytes)
{
    return char(selector) + bytes;
}

inline QByteArray runnerInput(int requestType, const QByteArray &bytes, Selector runner = Runner)
{
    return char(runner) + (char(requestType) + bytes);
}

}
