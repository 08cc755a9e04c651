// SPDX-License-Identifier: GPL-3.0-or-later
// A layout that places its widgets in a row and wraps them onto further rows when the width runs
// out, and a widget holding one, for use inside a tool bar: a tool bar asks only for a size hint,
// so the widget reports the height its current width needs and asks again when that changes.
#pragma once

#include <QLayout>
#include <QWidget>
#include <vector>

namespace kv {

class FlowLayout : public QLayout {
public:
    explicit FlowLayout(QWidget* parent = nullptr);
    ~FlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(Items.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;    // everything in one row
    QSize minimumSize() const override; // the widest item, in as many rows as it takes
    void setGeometry(const QRect& rect) override;

private:
    // Lays the items out in `rect` (only measures unless `apply`); returns the height used.
    int Arrange(const QRect& rect, bool apply) const;

    std::vector<QLayoutItem*> Items;
};

class FlowWidget : public QWidget {
public:
    explicit FlowWidget(QWidget* parent = nullptr);
    FlowLayout* Flow() const { return Layout; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    FlowLayout* Layout;
    int LastHeight = -1;
};

} // namespace kv
