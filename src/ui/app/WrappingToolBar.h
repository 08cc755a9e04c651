// SPDX-License-Identifier: GPL-3.0-or-later
// The main tool bar: its buttons wrap onto a further row when the window is too narrow for one,
// as on a high-density screen, instead of going behind the tool bar's overflow button.
//
// Threads: the user-interface thread only.
#pragma once

#include <QList>
#include <QToolBar>

class QAction;

namespace kv {

class FlowWidget;

class WrappingToolBar : public QToolBar {
public:
    WrappingToolBar(const QString& title, QWidget* parent);

    void AddButton(QAction* action);
    void AddSeparator();
    // The buttons' actions in order, with a separator action where a separator stands.
    const QList<QAction*>& Buttons() const { return Actions; }

private:
    FlowWidget* Row;
    QList<QAction*> Actions;
};

} // namespace kv
