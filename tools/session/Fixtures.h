// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QString>
#include <QVariant>

// The service's payloads of testdata/twitter-v1.1, as the client library hands
// them to the daemon: JSON read into variants, with every "id" taken from its exact
// "id_str" (the ids exceed what a double holds).
namespace Fixtures {

QVariant load(const QString &fileName);
QVariantList homeTimeline();

}
