// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/bars/FlowLayout.h"

#include <QResizeEvent>
#include <algorithm>

namespace kv {

FlowLayout::FlowLayout(QWidget* parent) : QLayout(parent) {
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout() {
    for (QLayoutItem* item : Items)
        delete item;
}

void FlowLayout::addItem(QLayoutItem* item) {
    Items.push_back(item);
}

QLayoutItem* FlowLayout::itemAt(int index) const {
    return index >= 0 && index < count() ? Items[static_cast<size_t>(index)] : nullptr;
}

QLayoutItem* FlowLayout::takeAt(int index) {
    if (index < 0 || index >= count()) return nullptr;
    QLayoutItem* item = Items[static_cast<size_t>(index)];
    Items.erase(Items.begin() + index);
    return item;
}

int FlowLayout::heightForWidth(int width) const {
    return Arrange(QRect(0, 0, width, 0), false);
}

QSize FlowLayout::sizeHint() const {
    const int gap = std::max(spacing(), 0);
    int width = 0, height = 0;
    for (QLayoutItem* item : Items) {
        if (item->isEmpty()) continue;
        const QSize hint = item->sizeHint();
        width += (width > 0 ? gap : 0) + hint.width();
        height = std::max(height, hint.height());
    }
    return {width, height};
}

QSize FlowLayout::minimumSize() const {
    int widest = 0;
    for (QLayoutItem* item : Items)
        if (!item->isEmpty()) widest = std::max(widest, item->sizeHint().width());
    return {widest, heightForWidth(widest)};
}

void FlowLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    Arrange(rect, true);
}

int FlowLayout::Arrange(const QRect& rect, bool apply) const {
    const int gap = std::max(spacing(), 0);
    int x = rect.x(), y = rect.y(), rowHeight = 0;
    // Each row is centred vertically on its tallest item, as a tool bar centres its widgets.
    std::vector<std::pair<QLayoutItem*, QPoint>> row;
    auto finishRow = [&] {
        if (apply)
            for (auto& [item, at] : row) {
                const QSize size = item->sizeHint();
                item->setGeometry(QRect(at + QPoint(0, (rowHeight - size.height()) / 2), size));
            }
        row.clear();
    };
    for (QLayoutItem* item : Items) {
        if (item->isEmpty()) continue;
        const QSize size = item->sizeHint();
        if (!row.empty() && x + size.width() > rect.right() + 1) {
            finishRow();
            x = rect.x();
            y += rowHeight + gap;
            rowHeight = 0;
        }
        row.emplace_back(item, QPoint(x, y));
        x += size.width() + gap;
        rowHeight = std::max(rowHeight, size.height());
    }
    finishRow();
    return y + rowHeight - rect.y();
}

FlowWidget::FlowWidget(QWidget* parent) : QWidget(parent), Layout(new FlowLayout(this)) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QSize FlowWidget::sizeHint() const {
    const QSize row = Layout->sizeHint();
    return {row.width(), width() > 0 ? Layout->heightForWidth(width()) : row.height()};
}

QSize FlowWidget::minimumSizeHint() const {
    const QSize least = Layout->minimumSize();
    return {least.width(), width() > 0 ? Layout->heightForWidth(width()) : least.height()};
}

void FlowWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // A new width may need another number of rows: the tool bar must ask for the new height.
    const int height = Layout->heightForWidth(event->size().width());
    if (height != LastHeight) {
        LastHeight = height;
        updateGeometry();
    }
}

} // namespace kv
