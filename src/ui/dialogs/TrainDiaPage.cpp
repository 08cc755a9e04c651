// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs/TrainDiaPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace kv {

namespace {

// One arrow of a spin: half the height of an edit field, narrow enough to sit beside it.
constexpr int ArrowWidth = 16, ArrowHeight = 11;

// The up and down arrows of a spin; each press reports +1 or -1.
class SpinArrows : public QWidget {
public:
    SpinArrows(std::function<void(int)> step, QWidget* parent) : QWidget(parent) {
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        for (const bool up : {true, false}) {
            auto* arrow = new QToolButton(this);
            arrow->setObjectName(up ? QStringLiteral("up") : QStringLiteral("down"));
            arrow->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
            arrow->setAutoRepeat(true);
            arrow->setFixedSize(ArrowWidth, ArrowHeight);
            connect(arrow, &QToolButton::clicked, this, [step, up] { step(up ? 1 : -1); });
            column->addWidget(arrow);
        }
    }
};

} // namespace

QString ControlName(int id) {
    return QStringLiteral("id%1").arg(id);
}

void NameControl(QWidget* widget, int id) {
    widget->setObjectName(ControlName(id));
}

TrainDiaPage::TrainDiaPage(const PageHooks& hooks, const PageTables& tables)
    : Hooks(hooks), Table(tables) {}

QLineEdit* TrainDiaPage::AddEdit(QGridLayout* grid, int row, int column, int id,
                                 const QString& label, const QString& unit) {
    auto* edit = new QLineEdit(Owner());
    NameControl(edit, id);
    auto* caption = new QLabel(label, Owner());
    caption->setBuddy(edit);
    grid->addWidget(caption, row, column);
    // A field's spin sits right beside it, whatever else widens the grid's columns.
    auto* field = new QHBoxLayout;
    field->setSpacing(0);
    field->addWidget(edit);
    for (const SpinControl& spin : Table.Spins)
        if (spin.Edit == id) field->addWidget(MakeSpin(spin.Id));
    grid->addLayout(field, row, column + 1);
    if (!unit.isEmpty()) grid->addWidget(new QLabel(unit, Owner()), row, column + 2);
    return edit;
}

QWidget* TrainDiaPage::MakeSpin(int id) {
    auto* spin = new SpinArrows([spin = Hooks.Spin, id](int delta) { spin(id, delta); }, Owner());
    NameControl(spin, id);
    return spin;
}

QComboBox* TrainDiaPage::AddList(QGridLayout* grid, int row, int column, int id,
                                 const QString& label, bool editable) {
    auto* list = new QComboBox(Owner());
    NameControl(list, id);
    list->setEditable(editable);
    list->setInsertPolicy(QComboBox::NoInsert);
    auto* caption = new QLabel(label, Owner());
    caption->setBuddy(list);
    grid->addWidget(caption, row, column);
    grid->addWidget(list, row, column + 1);
    return list;
}

QAbstractButton* TrainDiaPage::AddCheck(QGridLayout* grid, int row, int column, int id,
                                        const QString& label) {
    auto* check = new QCheckBox(label, Owner());
    NameControl(check, id);
    // Across the caption, field and unit columns.
    grid->addWidget(check, row, column, 1, 3);
    return check;
}

} // namespace kv
