// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SimulatorSnapshot.h"

#include <QString>

// What a snapshot looks like: a terminal screen, redrawn in place on a terminal, and a
// static HTML page with the pictures as local files. The screen is compact, a round within
// 40 rows of 80 columns, unless the details are asked for; both show the items' and
// notifications' markup as its reader sees it.
class SimulatorView
{
public:
    SimulatorView(bool clearScreen, bool details);

    QString terminalText(const SimulatorSnapshot &snapshot) const;
    void draw(const SimulatorSnapshot &snapshot) const;
    static QString html(const SimulatorSnapshot &snapshot);
    static bool writeHtml(const SimulatorSnapshot &snapshot, const QString &path);
    // The notification counts told in one line: what the groups hold, and in how many
    // notifications it came.
    static QString notificationCounts(const SimulatorSnapshot &snapshot);

private:
    QString compactText(const SimulatorSnapshot &snapshot) const;
    QString detailedText(const SimulatorSnapshot &snapshot) const;

    bool mClearScreen;
    bool mDetails;
};
