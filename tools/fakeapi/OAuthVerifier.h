// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "HttpRequest.h"

#include <QString>

// Checks a request's OAuth 1.0a HMAC-SHA1 signature against the credentials the server
// was given, the way the service does: the consumer key, the token, the signature over
// the request, and a timestamp within five minutes of the server's clock.
class OAuthVerifier
{
public:
    struct Credentials
    {
        QString consumerKey;
        QString consumerSecret;
        QString token;
        QString tokenSecret;
    };

    // The service's verdict: code 0 for an accepted request, else its error code
    // (32 bad signature or consumer key, 89 unknown token, 135 timestamp out of bounds,
    // 215 no usable Authorization header), HTTP status and message.
    struct Verdict
    {
        int code = 0;
        int status = 200;
        QString message;
    };

    explicit OAuthVerifier(const Credentials &credentials);

    Verdict check(const HttpRequest &request, qint64 serverTime) const;

private:
    Credentials mCredentials;
};
