// SPDX-License-Identifier: BSD-3-Clause
// The service's answers as the client library reads them: any bytes as JSON, the ids
// made exact, and the error message and code of an error body.

#include "FuzzSupport.h"
#include "TwJson.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    FuzzSupport::start((*argv)[0]);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    QString error;
    const QVariant body = TwJson::parse(text, &error);
    // Either a document or a reason why not.
    if (body.isValid() == !error.isEmpty())
        abort();
    TwJson::errorMessage(body);
    TwJson::errorCode(body);
    return 0;
}
