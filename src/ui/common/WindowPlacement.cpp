// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/common/WindowPlacement.h"

#include "settings/PlacementText.h"

namespace kv {

QString WindowPlacement::Format() const {
    PlacementNumbers n;
    n.Flags = Flags;
    n.Show = static_cast<uint32_t>(Show);
    n.Coordinates = {MinX,
                     MinY,
                     MaxX,
                     MaxY,
                     Normal.left(),
                     Normal.top(),
                     Normal.left() + Normal.width(),
                     Normal.top() + Normal.height()};
    return QString::fromStdString(n.Format());
}

std::optional<WindowPlacement> WindowPlacement::Parse(const QString& text) {
    const std::optional<PlacementNumbers> n = ParsePlacementText(text.toStdString());
    if (!n) return std::nullopt;
    WindowPlacement p;
    p.Flags = n->Flags;
    const unsigned show = n->Show;
    p.Show = show == 2 || show == 6 || show == 7 ? ShowState::Minimized
             : show == 3                         ? ShowState::Maximized
                                                 : ShowState::Normal;
    const auto& [minX, minY, maxX, maxY, left, top, right, bottom] = n->Coordinates;
    p.MinX = minX;
    p.MinY = minY;
    p.MaxX = maxX;
    p.MaxY = maxY;
    p.Normal = QRect(left, top, right - left, bottom - top);
    return p;
}

} // namespace kv
