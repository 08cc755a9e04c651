// SPDX-License-Identifier: GPL-3.0-or-later
// One group of the settings dialog (CTrainDia): it builds its controls and lists them in tables,
// which the dialog reads, validates, shows and resets without knowing the group. Each control is
// named "id" followed by its ctl number, so the dialog finds it wherever a page put it.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <span>
#include <variant>

#include "ui/dialogs/TrainDia.h"

class QAbstractButton;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QWidget;

namespace kv {

struct Limits {
    double Low, High;
};

// What "Reset to defaults" does with a control: what belongs to this machine and its user keeps
// what it shows.
enum class OnReset { Default, Keep };

using IntField = int TrainDiaFields::*;
using RealField = double TrainDiaFields::*;

// An edit field holding a number, with the range its value must lie in when read.
struct NumericControl {
    int Id;
    std::variant<IntField, RealField> Field;
    std::optional<Limits> Range;
    OnReset Reset = OnReset::Default;
};

// An integer spin moves the integer in its edit field; a step spin reads the whole dialog,
// moves its field by one and shows the dialog again.
enum class SpinKind { Integer, Step };

struct SpinControl {
    int Id;
    int Edit;
    SpinKind Kind;
    Limits Range;
};

// An edit field or editable list whose text is the value; or a drop-down list whose value is
// the selected entry (with none selected it stays as it was).
struct TextControl {
    int Id;
    QString TrainDiaFields::*Field;
    OnReset Reset = OnReset::Default;
};

struct CheckControl {
    int Id;
    bool TrainDiaFields::*Field;
};

// A page's controls, each table in the order of the screen: numbers are read and validated in
// the order of the pages and then of their table.
struct PageTables {
    std::span<const NumericControl> Numbers;
    std::span<const SpinControl> Spins;
    std::span<const TextControl> Texts;
    std::span<const TextControl> Lists;
    std::span<const CheckControl> Checks;
};

// What a page asks of the dialog that hosts it.
struct PageHooks {
    QWidget* Owner = nullptr;                      // parent of the page's controls
    std::function<void(int spin, int delta)> Spin; // a spin's arrow was pressed
    std::function<void(TrainDiaExit)> Profile;     // "Save" or "Load" was pressed
};

class TrainDiaPage {
public:
    TrainDiaPage(const PageHooks& hooks, const PageTables& tables);
    virtual ~TrainDiaPage() = default;
    TrainDiaPage(const TrainDiaPage&) = delete;
    TrainDiaPage& operator=(const TrainDiaPage&) = delete;

    const PageTables& Tables() const { return Table; }
    // Builds the page's controls; returns the widget that holds them, for the dialog to place.
    virtual QWidget* Build(const TrainDiaFields& fields, const TrainDiaLists& lists) = 0;
    // Radio buttons, which no table covers: shows or reads the choice they make.
    virtual void ShowChoices(const TrainDiaFields&) {}
    virtual void ReadChoices(TrainDiaFields&) const {}

protected:
    QWidget* Owner() const { return Hooks.Owner; }
    // A captioned edit field with its spin, if the page has one for it, and its unit.
    QLineEdit* AddEdit(QGridLayout* grid, int row, int column, int id, const QString& label,
                       const QString& unit = {});
    QComboBox* AddList(QGridLayout* grid, int row, int column, int id, const QString& label,
                       bool editable);
    QAbstractButton* AddCheck(QGridLayout* grid, int row, int column, int id, const QString& label);

private:
    QWidget* MakeSpin(int id);

    PageHooks Hooks;
    PageTables Table;
};

// The object name of the control with the given identifier.
QString ControlName(int id);
void NameControl(QWidget* widget, int id);

} // namespace kv
