#include "ui/WindowPlacement.h"

#include "settings/PlacementText.h"

namespace kv {

QString WindowPlacement::Format() const {
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,%10")
        .arg(Flags)
        .arg(static_cast<unsigned>(Show))
        .arg(MinX)
        .arg(MinY)
        .arg(MaxX)
        .arg(MaxY)
        .arg(Normal.left())
        .arg(Normal.top())
        .arg(Normal.left() + Normal.width())
        .arg(Normal.top() + Normal.height());
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
