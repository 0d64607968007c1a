// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QString>

// The platform's programs keep their user settings in "$XDG_CONFIG_HOME/<organisation>/
// <application>.ini": the daemon its own, the contacts daemon (Rosterd) the import state
// that the social provider leaves there. Here, beside the provider, the daemon (which
// links it) and the provider share these names.
namespace TwitterOstra {

const QString OrganizationName = QStringLiteral("Halvex");
const QString RosterdApplicationName = QStringLiteral("Rosterd");

}
