// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SimulatorSnapshot.h"

#include <QString>

// What a snapshot looks like: a terminal screen, redrawn in place on a terminal, and a
// static HTML page of the feed with the pictures as local files.
class SimulatorView
{
public:
    explicit SimulatorView(bool clearScreen);

    QString terminalText(const SimulatorSnapshot &snapshot) const;
    void draw(const SimulatorSnapshot &snapshot) const;
    static QString html(const SimulatorSnapshot &snapshot);
    static bool writeHtml(const SimulatorSnapshot &snapshot, const QString &path);

private:
    bool mClearScreen;
};
