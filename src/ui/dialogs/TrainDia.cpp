// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs/TrainDia.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <optional>
#include <tuple>
#include <variant>

#include "platform/SerialPortScan.h"
#include "ui/common/ScreenFit.h"
#include "ui/dialogs/CalibrationPage.h"
#include "ui/dialogs/MeasuringPage.h"
#include "ui/dialogs/OptionsPage.h"
#include "ui/dialogs/SoundPage.h"
#include "ui/dialogs/TrainDiaPage.h"

namespace kv {

namespace {

QString FormatReal(double value) {
    return QString::asprintf("%.15g", value);
}

QString Bound(double value) {
    return QString::number(value, 'g', 15);
}

// Decimal numbers as typed: surrounding blanks and a leading "+" allowed, nothing else around.
std::string Trimmed(const QString& text) {
    std::string s = text.trimmed().toStdString();
    if (s.size() > 1 && s[0] == '+' && s[1] != '-') s.erase(0, 1);
    return s;
}

std::optional<double> ParseReal(const QString& text) {
    const std::string s = Trimmed(text);
    double value = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || error != std::errc() || end != s.data() + s.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// An integer; one too large for any field reads as the largest value, which no range admits.
std::optional<long long> ParseInteger(const QString& text) {
    const std::string s = Trimmed(text);
    long long value = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || end != s.data() + s.size()) return std::nullopt;
    if (error == std::errc::result_out_of_range) return s[0] == '-' ? LLONG_MIN : LLONG_MAX;
    if (error != std::errc()) return std::nullopt;
    return value;
}

// The text a numeric control shows for its field of `fields`.
QString NumericText(const NumericControl& control, const TrainDiaFields& fields) {
    return std::visit(
        [&fields](auto field) {
            if constexpr (std::is_same_v<decltype(field), IntField>)
                return QString::number(fields.*field);
            else
                return FormatReal(fields.*field);
        },
        control.Field);
}

QString TextOf(const QWidget* widget) {
    if (auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text();
    if (auto* list = qobject_cast<const QComboBox*>(widget)) return list->currentText();
    return {};
}

void SetText(QWidget* widget, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->setText(text);
    if (auto* list = qobject_cast<QComboBox*>(widget)) list->setEditText(text);
}

// Selects the drop-down entry `text`; none when the list lacks it.
void SelectEntry(QWidget* widget, const QString& text) {
    auto* list = static_cast<QComboBox*>(widget);
    list->setCurrentIndex(list->findText(text, Qt::MatchExactly));
}

} // namespace

std::vector<std::string> SerialPortNames() {
    return ListSerialPorts();
}

CTrainDia::CTrainDia(const TrainDiaFields& fields, const TrainDiaFields& defaults,
                     const TrainDiaLists& lists, QWidget* parent)
    : QDialog(parent), Values(fields), Defaults(defaults) {
    setWindowTitle(QStringLiteral("Settings"));
    const PageHooks hooks{this, [this](int spin, int delta) { OnSpin(spin, delta); },
                          [this](TrainDiaExit exit) { OnProfileButton(exit); }};
    auto measuring = std::make_unique<MeasuringPage>(hooks);
    auto calibration = std::make_unique<CalibrationPage>(hooks);
    auto sound = std::make_unique<SoundPage>(hooks);
    auto options = std::make_unique<OptionsPage>(hooks, *sound);
    // The controls scroll on a low screen; OK, Cancel and Apply stay visible below them.
    auto* content = new QWidget(this);
    auto* grid = new QGridLayout(content);
    grid->addWidget(measuring->Build(Values, lists), 0, 0, 1, 2);
    grid->addWidget(calibration->Build(Values, lists), 1, 0);
    grid->addWidget(options->Build(Values, lists), 1, 1); // builds the sound devices inside
    Pages.push_back(std::move(measuring));
    Pages.push_back(std::move(calibration));
    Pages.push_back(std::move(options));
    Pages.push_back(std::move(sound));
    ScrollingDialogLayout(*this, content, BuildButtons());
    SetHelp({});
    ShowFields();
}

CTrainDia::~CTrainDia() = default;

QWidget* CTrainDia::Control(int id) const {
    return findChild<QWidget*>(ControlName(id));
}

QString CTrainDia::FieldName(int id) const {
    const QWidget* control = Control(id);
    for (const QLabel* label : findChildren<QLabel*>())
        if (label->buddy() == control) return label->text().remove(QLatin1Char('&')).trimmed();
    return {};
}

const NumericControl* CTrainDia::FindNumeric(int id) const {
    for (const auto& page : Pages)
        for (const NumericControl& c : page->Tables().Numbers)
            if (c.Id == id) return &c;
    return nullptr;
}

QHBoxLayout* CTrainDia::BuildButtons() {
    auto* buttons = new QHBoxLayout;
    const std::tuple<int, const char*, std::function<void()>> table[] = {
        {ctl::Ok, "OK", [this] { Accept(TrainDiaExit::Ok); }},
        {ctl::Cancel, "Cancel", [this] { reject(); }},
        {ctl::Apply, "Apply", [this] { Accept(TrainDiaExit::Apply); }},
        {ctl::Help, "Help", [this] { HelpAction(); }},
        {ctl::Reset, "Reset to defaults", [this] { ResetToDefaults(); }}};
    for (const auto& [id, label, action] : table) {
        auto* button = new QPushButton(QString::fromLatin1(label), this);
        NameControl(button, id);
        button->setDefault(id == ctl::Ok);
        button->setAutoDefault(id == ctl::Ok);
        connect(button, &QPushButton::clicked, this, action);
        buttons->addWidget(button);
    }
    return buttons;
}

void CTrainDia::SetHelp(std::function<void()> help) {
    HelpAction = std::move(help);
    Control(ctl::Help)->setEnabled(static_cast<bool>(HelpAction));
}

void CTrainDia::Press(int id, bool up) {
    QWidget* control = Control(id);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->click();
    } else if (control) {
        const QString arrow = up ? QStringLiteral("up") : QStringLiteral("down");
        if (auto* button = control->findChild<QToolButton*>(arrow)) button->click();
    }
}

void CTrainDia::ShowFields() {
    for (const auto& page : Pages) {
        const PageTables& t = page->Tables();
        for (const NumericControl& c : t.Numbers)
            SetText(Control(c.Id), NumericText(c, Values));
        for (const TextControl& c : t.Texts)
            SetText(Control(c.Id), Values.*c.Field);
        for (const TextControl& c : t.Lists)
            SelectEntry(Control(c.Id), Values.*c.Field);
        for (const CheckControl& c : t.Checks)
            static_cast<QAbstractButton*>(Control(c.Id))->setChecked(Values.*c.Field);
        page->ShowChoices(Values);
    }
}

bool CTrainDia::ReadControls() {
    const TrainDiaFields before = Values;
    if (!ReadNumbers()) {
        Values = before;
        return false;
    }
    ReadOthers();
    return true;
}

bool CTrainDia::ReadNumbers() {
    for (const auto& page : Pages)
        for (const NumericControl& c : page->Tables().Numbers) {
            const QString text = TextOf(Control(c.Id));
            const bool integer = std::holds_alternative<IntField>(c.Field);
            std::optional<double> value;
            if (integer) {
                if (const auto n = ParseInteger(text)) value = static_cast<double>(*n);
            } else {
                value = ParseReal(text);
            }
            if (!value) {
                Fail(c.Id, integer ? QStringLiteral("Enter an integer.")
                                   : QStringLiteral("Enter a number."));
                return false;
            }
            if (c.Range && (*value < c.Range->Low || *value > c.Range->High)) {
                const QString message = integer
                                            ? QStringLiteral("Enter an integer between %1 and %2.")
                                            : QStringLiteral("Enter a number between %1 and %2.");
                Fail(c.Id, message.arg(Bound(c.Range->Low), Bound(c.Range->High)));
                return false;
            }
            if (integer)
                Values.*std::get<IntField>(c.Field) = static_cast<int>(*value);
            else
                Values.*std::get<RealField>(c.Field) = *value;
        }
    return true;
}

void CTrainDia::ReadOthers() {
    for (const auto& page : Pages) {
        const PageTables& t = page->Tables();
        for (const TextControl& c : t.Texts)
            Values.*c.Field = TextOf(Control(c.Id));
        for (const TextControl& c : t.Lists) {
            const auto* list = static_cast<QComboBox*>(Control(c.Id));
            if (list->currentIndex() >= 0) Values.*c.Field = list->currentText();
        }
        for (const CheckControl& c : t.Checks)
            Values.*c.Field = static_cast<QAbstractButton*>(Control(c.Id))->isChecked();
        page->ReadChoices(Values);
    }
}

void CTrainDia::Fail(int id, const QString& message) {
    // Several fields share a range: the message names the one that gets the focus.
    const QString name = FieldName(id);
    const QString text = name.isEmpty() ? message : name + QStringLiteral(": ") + message;
    if (ShowMessage)
        ShowMessage(text);
    else
        QMessageBox::warning(this, windowTitle(), text);
    QWidget* control = Control(id);
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
    if (auto* list = qobject_cast<QComboBox*>(control); list && list->lineEdit())
        list->lineEdit()->selectAll();
}

void CTrainDia::OnSpin(int spinId, int delta) {
    const SpinControl* spin = nullptr;
    for (const auto& page : Pages)
        for (const SpinControl& s : page->Tables().Spins)
            if (s.Id == spinId) spin = &s;
    if (!spin) return;
    const Limits& r = spin->Range;
    if (spin->Kind == SpinKind::Integer) {
        const auto current = ParseInteger(TextOf(Control(spin->Edit)));
        const double moved = current ? static_cast<double>(*current) + delta : r.Low;
        SetText(Control(spin->Edit), QString::number(std::clamp(moved, r.Low, r.High), 'f', 0));
        return;
    }
    if (!ReadControls()) return;
    std::visit(
        [&](auto field) {
            Values.*field = std::clamp<double>(Values.*field + delta, r.Low, r.High);
        },
        FindNumeric(spin->Edit)->Field);
    ShowFields();
}

void CTrainDia::Accept(TrainDiaExit exit) {
    if (!ReadControls()) return;
    ExitButton = exit;
    accept();
}

void CTrainDia::OnProfileButton(TrainDiaExit exit) {
    if (!ReadControls()) return;
    if (!Values.Profile.isEmpty()) {
        ExitButton = exit;
        accept();
    } else if (exit == TrainDiaExit::Save) {
        if (Beep) Beep();
    } else if (ShowMessage) {
        ShowMessage(QStringLiteral("Please enter a profile name"));
    } else {
        QMessageBox::information(this, windowTitle(),
                                 QStringLiteral("Please enter a profile name"));
    }
}

// Sets every field of the profile and the options to its default; what the pages mark as this
// machine's or its user's (calibration, time references, sound devices, the profile name) keeps
// what it shows.
void CTrainDia::ResetToDefaults() {
    for (const auto& page : Pages) {
        const PageTables& t = page->Tables();
        for (const NumericControl& c : t.Numbers)
            if (c.Reset == OnReset::Default) SetText(Control(c.Id), NumericText(c, Defaults));
        for (const TextControl& c : t.Texts)
            if (c.Reset == OnReset::Default) SetText(Control(c.Id), Defaults.*c.Field);
        for (const TextControl& c : t.Lists)
            if (c.Reset == OnReset::Default) SelectEntry(Control(c.Id), Defaults.*c.Field);
        for (const CheckControl& c : t.Checks)
            static_cast<QAbstractButton*>(Control(c.Id))->setChecked(Defaults.*c.Field);
        page->ShowChoices(Defaults);
    }
}

} // namespace kv
