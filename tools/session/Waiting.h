// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <functional>

namespace Session {

// Runs the event loop until done() holds or the time is up; done() is asked every 20 ms.
// False on the timeout. The session's own waits go through here, so that a program
// without QtTest (the simulator, the interleaving run) can drive a session too.
bool waitUntil(const std::function<bool()> &done, int timeoutMs);

}
