// SPDX-License-Identifier: BSD-3-Clause
#pragma once

// Prepares the framework's value types for queued signals and for QVariant streams
// (the import progress travels inside account records); cheap to call again.
class SocialProviderInitializer
{
public:
    static void init();
};
