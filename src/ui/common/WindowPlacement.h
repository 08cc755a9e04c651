// SPDX-License-Identifier: GPL-3.0-or-later
// The saved window placement: ten numbers "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d" — flags, show state,
// minimized x and y, maximized x and y, and the normal rectangle's left, top, right and bottom.
#pragma once

#include <QRect>
#include <QString>
#include <optional>

namespace kv {

enum class ShowState : unsigned { Normal = 1, Minimized = 2, Maximized = 3 };

struct WindowPlacement {
    unsigned Flags = 0;
    ShowState Show = ShowState::Normal;
    int MinX = -1, MinY = -1, MaxX = -1, MaxY = -1;
    QRect Normal; // left, top, right and bottom are stored; right and bottom are exclusive

    QString Format() const;
    // Nothing unless all ten numbers are present, parse and fit the screen's coordinates
    // (ParsePlacementText).
    static std::optional<WindowPlacement> Parse(const QString& text);
};

} // namespace kv
