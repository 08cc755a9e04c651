// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs/TrainDia.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <optional>
#include <tuple>
#include <variant>

#include "platform/SerialPortScan.h"
#include "references/GpsReceiver.h"
#include "ui/common/ScreenFit.h"

namespace kv {

namespace {

using IntField = int TrainDiaFields::*;
using RealField = double TrainDiaFields::*;

struct Limits {
    double Low, High;
};

// An edit field holding a number, with the range its value must lie in when read.
struct NumericControl {
    int Id;
    std::variant<IntField, RealField> Field;
    std::optional<Limits> Range;
};

// Calibration factors between 0.5 and 2, the factors the settings store accepts on loading;
// outside them the sample constants of the analysis lose their meaning.
constexpr Limits CalibrationLimits{-43000, 86000};

// In the order of the screen, which is the order they are read and validated in.
const NumericControl NumericControls[] = {
    {ctl::LiftAngle, &TrainDiaFields::LiftAngle, Limits{20, 120}},
    {ctl::Tau, &TrainDiaFields::Tau, Limits{0.2, 1000}},
    {ctl::RateAverage, &TrainDiaFields::RateAverage, Limits{0, 100000}},
    {ctl::Positions, &TrainDiaFields::Positions, Limits{1, 6}},
    {ctl::PositionAverage, &TrainDiaFields::PositionAverage, Limits{1, 100000}},
    {ctl::Stabilization, &TrainDiaFields::Stabilization, Limits{0, 300}},
    {ctl::Threshold, &TrainDiaFields::ThresholdPercent, Limits{1, 99}},
    {ctl::MaxAmplitude, &TrainDiaFields::MaxAmplitude, Limits{30, 400}},
    {ctl::Blanking, &TrainDiaFields::BlankingPercent, Limits{0, 99}},
    {ctl::Silence, &TrainDiaFields::SilencePercent, Limits{0, 99}},
    {ctl::Teeth, &TrainDiaFields::EscapeWheelTeeth, Limits{0, 120}},
    {ctl::FreeWheel, &TrainDiaFields::FreeWheel, Limits{0, 100}},
    {ctl::Cal22, &TrainDiaFields::Cal22, CalibrationLimits},
    {ctl::Cal44, &TrainDiaFields::Cal44, CalibrationLimits},
    {ctl::Cal48, &TrainDiaFields::Cal48, CalibrationLimits},
    {ctl::Cal96, &TrainDiaFields::Cal96, CalibrationLimits},
    {ctl::Trim, &TrainDiaFields::Trim, Limits{-100, 100}},
    {ctl::LogInterval, &TrainDiaFields::LogInterval, Limits{0, 86400}},
    {ctl::SampleRate, &TrainDiaFields::SampleRate, Limits{11025, 96000}},
};

const NumericControl* FindNumeric(int id) {
    for (const NumericControl& c : NumericControls)
        if (c.Id == id) return &c;
    return nullptr;
}

// An integer spin moves the integer in its edit field; a step spin reads the whole dialog,
// moves its field by one and shows the dialog again.
enum class SpinKind { Integer, Step };

struct SpinControl {
    int Id;
    int Edit;
    SpinKind Kind;
    Limits Range;
};

const SpinControl SpinControls[] = {
    {ctl::LiftAngleSpin, ctl::LiftAngle, SpinKind::Step, {20, 120}},
    {ctl::TauSpin, ctl::Tau, SpinKind::Step, {0.2, 1000}},
    {ctl::RateAverageSpin, ctl::RateAverage, SpinKind::Step, {2, 300}},
    {ctl::PositionsSpin, ctl::Positions, SpinKind::Integer, {1, 6}},
    {ctl::PositionAverageSpin, ctl::PositionAverage, SpinKind::Step, {2, 300}},
    {ctl::StabilizationSpin, ctl::Stabilization, SpinKind::Step, {0, 300}},
    {ctl::ThresholdSpin, ctl::Threshold, SpinKind::Integer, {1, 99}},
    {ctl::MaxAmplitudeSpin, ctl::MaxAmplitude, SpinKind::Integer, {60, 340}},
    {ctl::BlankingSpin, ctl::Blanking, SpinKind::Integer, {0, 99}},
    {ctl::SilenceSpin, ctl::Silence, SpinKind::Integer, {0, 99}},
    {ctl::TeethSpin, ctl::Teeth, SpinKind::Integer, {0, 100}},
    {ctl::FreeWheelSpin, ctl::FreeWheel, SpinKind::Step, {0, 100}},
    {ctl::LogIntervalSpin, ctl::LogInterval, SpinKind::Integer, {0, 32767}},
};

struct TextControl {
    int Id;
    QString TrainDiaFields::*Field;
};

// Edit fields and editable lists whose text is the value.
const TextControl TextControls[] = {{ctl::Train, &TrainDiaFields::Train},
                                    {ctl::Sequence, &TrainDiaFields::Sequence},
                                    {ctl::ProfileName, &TrainDiaFields::Profile},
                                    {ctl::SntpServer, &TrainDiaFields::SntpServer}};

// Drop-down lists: the value is the selected entry; with none selected it stays as it was.
const TextControl ListControls[] = {{ctl::GpsPort, &TrainDiaFields::GpsPort},
                                    {ctl::GpsBaud, &TrainDiaFields::GpsBaud},
                                    {ctl::InputDevice, &TrainDiaFields::InputDevice},
                                    {ctl::OutputDevice, &TrainDiaFields::OutputDevice}};

struct CheckControl {
    int Id;
    bool TrainDiaFields::*Field;
};

const CheckControl CheckControls[] = {{ctl::Averaging, &TrainDiaFields::Averaging},
                                      {ctl::PositionsToText, &TrainDiaFields::PositionsToText},
                                      {ctl::Centre, &TrainDiaFields::Centre},
                                      {ctl::Logging, &TrainDiaFields::Logging},
                                      {ctl::LargeFonts, &TrainDiaFields::LargeFonts},
                                      {ctl::Duplex, &TrainDiaFields::DuplexAudio},
                                      {ctl::PrecisionTiming, &TrainDiaFields::PrecisionTiming},
                                      {ctl::AutoThreshold, &TrainDiaFields::AutoThreshold}};

const char* const SntpServers[] = {"0.pool.ntp.org",
                                   "1.pool.ntp.org",
                                   "2.pool.ntp.org",
                                   "3.pool.ntp.org",
                                   "africa.pool.ntp.org",
                                   "asia.pool.ntp.org",
                                   "europe.pool.ntp.org",
                                   "north-america.pool.ntp.org",
                                   "oceania.pool.ntp.org",
                                   "pool.ntp.org",
                                   "south-america.pool.ntp.org",
                                   "de.pool.ntp.org",
                                   "uk.pool.ntp.org",
                                   "ntp.ubuntu.com",
                                   "ptbtime1.ptb.de",
                                   "time.apple.com",
                                   "time.cloudflare.com",
                                   "time.facebook.com",
                                   "time.google.com",
                                   "time.nist.gov",
                                   "time-a-g.nist.gov",
                                   "time.windows.com"};

const char* const SampleRates[] = {"22050", "44100", "48000", "96000"};

const char* const EscapementLabels[] = {"Lever", "Coax1", "Coax2", "AP1", "AP2", "Clock", "Fork"};

QString ControlName(int id) {
    return QStringLiteral("id%1").arg(id);
}

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
            arrow->setFixedSize(16, 11);
            connect(arrow, &QToolButton::clicked, this, [step, up] { step(up ? 1 : -1); });
            column->addWidget(arrow);
        }
    }
};

} // namespace

std::vector<std::string> SerialPortNames() {
    return ListSerialPorts();
}

CTrainDia::CTrainDia(const TrainDiaFields& fields, const TrainDiaFields& defaults,
                     const TrainDiaLists& lists, QWidget* parent)
    : QDialog(parent), Values(fields), Defaults(defaults) {
    setWindowTitle(QStringLiteral("Settings"));
    // The controls scroll on a low screen; OK, Cancel and Apply stay visible below them.
    auto* content = new QWidget(this);
    auto* grid = new QGridLayout(content);
    BuildProfileGroup(grid);
    BuildCalibrationGroup(grid, lists);
    BuildOtherControls(grid, lists);
    ScrollingDialogLayout(*this, content, BuildButtons());
    SetHelp({});
    ShowFields();
}

void CTrainDia::Name(QWidget* widget, int id) {
    widget->setObjectName(ControlName(id));
}

QWidget* CTrainDia::Control(int id) const {
    return findChild<QWidget*>(ControlName(id));
}

QLineEdit* CTrainDia::AddEdit(QGridLayout* grid, int row, int column, int id, const QString& label,
                              const QString& unit) {
    auto* edit = new QLineEdit(this);
    Name(edit, id);
    auto* caption = new QLabel(label, this);
    caption->setBuddy(edit);
    grid->addWidget(caption, row, column);
    // A field's spin sits right beside it, whatever else widens the grid's columns.
    auto* field = new QHBoxLayout;
    field->setSpacing(0);
    field->addWidget(edit);
    for (const SpinControl& spin : SpinControls)
        if (spin.Edit == id) field->addWidget(MakeSpin(spin.Id));
    grid->addLayout(field, row, column + 1);
    if (!unit.isEmpty()) grid->addWidget(new QLabel(unit, this), row, column + 2);
    return edit;
}

QWidget* CTrainDia::MakeSpin(int id) {
    auto* spin = new SpinArrows([this, id](int delta) { OnSpin(id, delta); }, this);
    Name(spin, id);
    return spin;
}

QString CTrainDia::FieldName(int id) const {
    const QWidget* control = Control(id);
    for (const QLabel* label : findChildren<QLabel*>())
        if (label->buddy() == control) return label->text().remove(QLatin1Char('&')).trimmed();
    return {};
}

QComboBox* CTrainDia::AddList(QGridLayout* grid, int row, int column, int id, const QString& label,
                              bool editable) {
    auto* list = new QComboBox(this);
    Name(list, id);
    list->setEditable(editable);
    list->setInsertPolicy(QComboBox::NoInsert);
    auto* caption = new QLabel(label, this);
    caption->setBuddy(list);
    grid->addWidget(caption, row, column);
    grid->addWidget(list, row, column + 1);
    return list;
}

QAbstractButton* CTrainDia::AddCheck(QGridLayout* grid, int row, int column, int id,
                                     const QString& label) {
    auto* check = new QCheckBox(label, this);
    Name(check, id);
    grid->addWidget(check, row, column, 1, 3);
    return check;
}

void CTrainDia::BuildProfileGroup(QGridLayout* outer) {
    auto* group = new QGroupBox(QStringLiteral("Profile"), this);
    auto* grid = new QGridLayout(group);
    outer->addWidget(group, 0, 0, 1, 2);
    auto* types = new QHBoxLayout;
    Escapements = new QButtonGroup(this);
    for (int code = 0; code < 7; ++code) {
        auto* radio = new QRadioButton(QString::fromLatin1(EscapementLabels[code]), group);
        Name(radio, ctl::Lever + code);
        radio->setEnabled(code != 2 && code != 3 && code != 4); // shown, not choosable
        Escapements->addButton(radio, ctl::Lever + code);
        types->addWidget(radio);
    }
    grid->addLayout(types, 0, 0, 1, 8);
    const QString secs = QStringLiteral("secs"), degrees = QString::fromUtf8("\u00b0");
    AddEdit(grid, 1, 0, ctl::Train, QStringLiteral("Train"));
    AddEdit(grid, 2, 0, ctl::LiftAngle, QStringLiteral("Lift angle"), degrees);
    AddEdit(grid, 3, 0, ctl::Tau, QStringLiteral("Allen deviation Tau"), secs);
    AddEdit(grid, 4, 0, ctl::RateAverage, QStringLiteral("Rate average time"), secs);
    AddEdit(grid, 5, 0, ctl::Positions, QStringLiteral("Positions"));
    AddEdit(grid, 6, 0, ctl::PositionAverage, QStringLiteral("Position average time"), secs);
    AddEdit(grid, 7, 0, ctl::Stabilization, QStringLiteral("Stabilization time"), secs);
    AddEdit(grid, 8, 0, ctl::Sequence, QStringLiteral("Sequence"));
    AddEdit(grid, 1, 4, ctl::Threshold, QStringLiteral("Unlock threshold"), QStringLiteral("%"));
    AddEdit(grid, 2, 4, ctl::MaxAmplitude, QStringLiteral("Max amplitude"), degrees);
    AddEdit(grid, 3, 4, ctl::Blanking, QStringLiteral("Post tick blanking"), QStringLiteral("%"));
    AddEdit(grid, 4, 4, ctl::Silence, QStringLiteral("Silence"), QStringLiteral("%"));
    AddEdit(grid, 5, 4, ctl::Teeth, QStringLiteral("Escape wheel teeth"));
    AddEdit(grid, 6, 4, ctl::FreeWheel, QStringLiteral("Freewheel ticks"));
    AddCheck(grid, 7, 4, ctl::Averaging, QStringLiteral("Beat && amplitude averaging?"));
    BuildProfileButtons(grid, 8);
}

void CTrainDia::BuildProfileButtons(QGridLayout* grid, int row) {
    AddEdit(grid, row, 4, ctl::ProfileName, QStringLiteral("Profile name"));
    auto* buttons = new QHBoxLayout;
    for (const auto& [id, label, exit] : {std::tuple{ctl::Save, "Save", TrainDiaExit::Save},
                                          std::tuple{ctl::Load, "Load", TrainDiaExit::Load}}) {
        auto* button = new QPushButton(QString::fromLatin1(label), this);
        button->setAutoDefault(false);
        Name(button, id);
        connect(button, &QPushButton::clicked, this, [this, exit] { OnProfileButton(exit); });
        buttons->addWidget(button);
    }
    grid->addLayout(buttons, row, 6, 1, 2);
}

void CTrainDia::BuildCalibrationGroup(QGridLayout* outer, const TrainDiaLists& lists) {
    auto* group = new QGroupBox(QStringLiteral("Calibration"), this);
    auto* grid = new QGridLayout(group);
    outer->addWidget(group, 1, 0);
    const QString sd = QStringLiteral("s/d");
    AddEdit(grid, 0, 0, ctl::Cal22, QStringLiteral("Calibration factor 22050"), sd);
    AddEdit(grid, 1, 0, ctl::Cal44, QStringLiteral("Calibration factor 44100"), sd);
    AddEdit(grid, 2, 0, ctl::Cal48, QStringLiteral("Calibration factor 48000"), sd);
    AddEdit(grid, 3, 0, ctl::Cal96, QStringLiteral("Calibration factor 96000"), sd);
    auto* note = new QLabel(QStringLiteral("Nominal value is zero. Increase to make indicated rate "
                                           "faster. Reduce to make indicated rate slower."),
                            group);
    note->setWordWrap(true);
    grid->addWidget(note, 4, 0, 1, 3);
    QStringList servers;
    for (const char* name : SntpServers)
        servers << QString::fromLatin1(name);
    servers.sort();
    AddList(grid, 5, 0, ctl::SntpServer, QStringLiteral("SNTP server for internet calibration"),
            true)
        ->addItems(servers);
    QComboBox* ports = AddList(grid, 6, 0, ctl::GpsPort, QStringLiteral("GPS com port"), false);
    for (const std::string& port : lists.SerialPorts)
        ports->addItem(QString::fromStdString(port));
    QComboBox* bauds = AddList(grid, 7, 0, ctl::GpsBaud, QStringLiteral("GPS baud rate"), false);
    for (const int baud : GpsBaudRates)
        bauds->addItem(QString::number(baud));
    // The stored port or speed stays choosable when the machine does not offer it.
    for (QComboBox* list : {ports, bauds}) {
        const QString stored = list == ports ? Values.GpsPort : Values.GpsBaud;
        if (!stored.isEmpty() && list->findText(stored, Qt::MatchExactly) < 0)
            list->addItem(stored);
    }
    AddEdit(grid, 8, 0, ctl::Trim, QStringLiteral("Timestamp clock trim"), sd);
    grid->setRowStretch(9, 1);
}

void CTrainDia::BuildOtherControls(QGridLayout* outer, const TrainDiaLists& lists) {
    auto* panel = new QWidget(this);
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(panel, 1, 1);
    AddCheck(grid, 0, 0, ctl::PositionsToText,
             QStringLiteral("Save positional statistics to text file?"));
    AddCheck(grid, 1, 0, ctl::Centre, QStringLiteral("Centre trace on start"));
    AddCheck(grid, 2, 0, ctl::Logging, QStringLiteral("Enable logging?"));
    AddEdit(grid, 3, 0, ctl::LogInterval, QStringLiteral("Logging interval"));
    grid->addWidget(new QLabel(QStringLiteral("(secs. Set to zero to use rate measuring time)")), 4,
                    0, 1, 3);
    AddCheck(grid, 5, 0, ctl::LargeFonts, QStringLiteral("Large fonts"));
    QLineEdit* counter =
        AddEdit(grid, 6, 0, ctl::PerformanceCounter, QStringLiteral("Performance counter "));
    counter->setReadOnly(true);
    counter->setText(QString::number(static_cast<qlonglong>(lists.CounterFrequency)));
    AddCheck(grid, 8, 0, ctl::PrecisionTiming,
             QStringLiteral("Precision timing (tick times between samples)"));
    AddCheck(grid, 9, 0, ctl::AutoThreshold,
             QStringLiteral("Automatic threshold (follows the noise)"));
    BuildSoundGroup(grid, lists);
}

void CTrainDia::BuildSoundGroup(QGridLayout* outer, const TrainDiaLists& lists) {
    auto* group = new QGroupBox(QStringLiteral("Sound devices"), this);
    auto* grid = new QGridLayout(group);
    outer->addWidget(group, 7, 0, 1, 3);
    QComboBox* inputs = AddList(grid, 0, 0, ctl::InputDevice, QStringLiteral("Input"), false);
    for (const std::string& name : lists.InputDevices)
        inputs->addItem(QString::fromStdString(name));
    AddList(grid, 1, 0, ctl::SampleRate, QStringLiteral("Sample rate"), true);
    for (const char* rate : SampleRates)
        static_cast<QComboBox*>(Control(ctl::SampleRate))->addItem(QString::fromLatin1(rate));
    auto* slider = new QGroupBox(QStringLiteral("Mic slider affects:"), group);
    auto* sources = new QHBoxLayout(slider);
    Sources = new QButtonGroup(this);
    for (const auto& [id, label] : {std::pair{ctl::MicIn, "Mic-in"}, {ctl::LineIn, "Line-in"}}) {
        auto* radio = new QRadioButton(QString::fromLatin1(label), slider);
        Name(radio, id);
        Sources->addButton(radio, id);
        sources->addWidget(radio);
    }
    grid->addWidget(slider, 2, 0, 1, 2);
    QComboBox* outputs = AddList(grid, 3, 0, ctl::OutputDevice, QStringLiteral("Output"), false);
    for (const std::string& name : lists.OutputDevices)
        outputs->addItem(QString::fromStdString(name));
    AddCheck(grid, 4, 0, ctl::Duplex, QStringLiteral("Duplex audio"));
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
        Name(button, id);
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
    for (const NumericControl& c : NumericControls)
        SetText(Control(c.Id), NumericText(c, Values));
    for (const TextControl& c : TextControls)
        SetText(Control(c.Id), Values.*c.Field);
    for (const TextControl& c : ListControls) {
        auto* list = static_cast<QComboBox*>(Control(c.Id));
        list->setCurrentIndex(list->findText(Values.*c.Field, Qt::MatchExactly));
    }
    for (const CheckControl& c : CheckControls)
        static_cast<QAbstractButton*>(Control(c.Id))->setChecked(Values.*c.Field);
    if (QAbstractButton* type = Escapements->button(ctl::Lever + Values.Escapement))
        type->setChecked(true);
    Sources->button(Values.LineIn ? ctl::LineIn : ctl::MicIn)->setChecked(true);
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
    for (const NumericControl& c : NumericControls) {
        const QString text = TextOf(Control(c.Id));
        const bool integer = std::holds_alternative<IntField>(c.Field);
        std::optional<double> value;
        if (integer) {
            if (const auto n = ParseInteger(text)) value = static_cast<double>(*n);
        } else {
            value = ParseReal(text);
        }
        if (!value) {
            Fail(c.Id,
                 integer ? QStringLiteral("Enter an integer.") : QStringLiteral("Enter a number."));
            return false;
        }
        if (c.Range && (*value < c.Range->Low || *value > c.Range->High)) {
            const QString message = integer ? QStringLiteral("Enter an integer between %1 and %2.")
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
    for (const TextControl& c : TextControls)
        Values.*c.Field = TextOf(Control(c.Id));
    for (const TextControl& c : ListControls) {
        const auto* list = static_cast<QComboBox*>(Control(c.Id));
        if (list->currentIndex() >= 0) Values.*c.Field = list->currentText();
    }
    for (const CheckControl& c : CheckControls)
        Values.*c.Field = static_cast<QAbstractButton*>(Control(c.Id))->isChecked();
    if (Escapements->checkedId() >= ctl::Lever)
        Values.Escapement = Escapements->checkedId() - ctl::Lever;
    Values.LineIn = Sources->checkedId() == ctl::LineIn;
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
    for (const SpinControl& s : SpinControls)
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

// Sets every field of the profile and the options to its default. What belongs to this machine
// and its user keeps what it shows: the calibration factors and clock trim (measured on this
// sound card), the time references, the sound devices and the profile name.
void CTrainDia::ResetToDefaults() {
    for (const int id :
         {ctl::LiftAngle, ctl::RateAverage, ctl::Threshold, ctl::Blanking, ctl::MaxAmplitude,
          ctl::Positions, ctl::PositionAverage, ctl::LogInterval, ctl::SampleRate, ctl::Tau,
          ctl::Teeth, ctl::FreeWheel, ctl::Silence, ctl::Stabilization})
        SetText(Control(id), NumericText(*FindNumeric(id), Defaults));
    SetText(Control(ctl::Train), Defaults.Train);
    SetText(Control(ctl::Sequence), Defaults.Sequence);
    for (const CheckControl& c : CheckControls)
        static_cast<QAbstractButton*>(Control(c.Id))->setChecked(Defaults.*c.Field);
    if (QAbstractButton* type = Escapements->button(ctl::Lever + Defaults.Escapement))
        type->setChecked(true);
    Sources->button(Defaults.LineIn ? ctl::LineIn : ctl::MicIn)->setChecked(true);
}

} // namespace kv
