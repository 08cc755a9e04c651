#include "ui/WindowPlacement.h"

#include <QStringList>

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
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() < 10) return std::nullopt;
    long long v[10];
    for (int i = 0; i < 10; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toLongLong(&ok);
        if (!ok) return std::nullopt;
    }
    WindowPlacement p;
    p.Flags = static_cast<unsigned>(v[0]);
    const unsigned show = static_cast<unsigned>(v[1]);
    p.Show = show == 2 || show == 6 || show == 7 ? ShowState::Minimized
             : show == 3                         ? ShowState::Maximized
                                                 : ShowState::Normal;
    p.MinX = static_cast<int>(v[2]);
    p.MinY = static_cast<int>(v[3]);
    p.MaxX = static_cast<int>(v[4]);
    p.MaxY = static_cast<int>(v[5]);
    const int left = static_cast<int>(v[6]), top = static_cast<int>(v[7]);
    p.Normal = QRect(left, top, static_cast<int>(v[8]) - left, static_cast<int>(v[9]) - top);
    return p;
}

} // namespace kv
