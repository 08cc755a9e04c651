// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logview/PostDia.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <optional>

#include "ui/logview/GraphCanvas.h"

namespace kv {

namespace {

constexpr double MaxFilterCoefficient = 0.99; // at 1 the filter would never move
constexpr int NumberEditWidth = 70;           // pixels: room for "-100.000"

enum Column {
    OnColumn,
    FilterColumn,
    CoefficientColumn,
    LabelColumn,
    HoldColumn,
    MinColumn,
    MaxColumn
};

const char* const ColumnTitles[] = {"On",   "LPF", "Filter coeff", "Trace label",
                                    "Hold", "Min", "Max"};

// The number in `edit`, or nothing when the text is not one.
std::optional<double> NumberIn(const QLineEdit* edit) {
    bool ok = false;
    const double v = edit->text().trimmed().toDouble(&ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

} // namespace

CPostDia::CPostDia(const GraphSettings& settings, std::function<void(const QString&)> tell,
                   QWidget* parent)
    : QDialog(parent), Tell(std::move(tell)) {
    setWindowTitle(QStringLiteral("Trace presentation"));
    auto* grid = new QGridLayout(this);
    for (int c = OnColumn; c <= MaxColumn; ++c)
        grid->addWidget(new QLabel(QString::fromLatin1(ColumnTitles[c]), this), 0, c);
    const GraphSettings defaults = GraphSettings::Defaults();
    for (int i = 0; i < TraceCount; ++i) {
        const TraceSettings& t = settings.Traces[i];
        const uint32_t colour = defaults.Traces[i].TraceColor;
        Row& row = Rows[static_cast<size_t>(i)];
        row.On = new QCheckBox(QString::number(i + 1), this);
        row.On->setChecked(t.Enabled);
        row.Filter = new QCheckBox(QStringLiteral("LPF"), this);
        row.Filter->setChecked(t.Filter);
        row.Coefficient = NumberEdit(t.FiltCoeff, colour);
        row.Label = new QLineEdit(QString::fromStdString(t.Label), this);
        row.Hold = new QCheckBox(QStringLiteral("Hold"), this);
        row.Hold->setChecked(t.HoldMax);
        row.Min = NumberEdit(t.MinHold, colour);
        row.Max = NumberEdit(t.MaxHold, colour);
        QWidget* const cells[] = {row.On,   row.Filter, row.Coefficient, row.Label,
                                  row.Hold, row.Min,    row.Max};
        for (int c = OnColumn; c <= MaxColumn; ++c)
            grid->addWidget(cells[c], i + 1, c);
    }
    Title = new QLineEdit(QString::fromStdString(settings.Title), this);
    grid->addWidget(new QLabel(QStringLiteral("Graph title:"), this), TraceCount + 1, 0, 1, 2);
    grid->addWidget(Title, TraceCount + 1, 2, 1, MaxColumn - 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Reset = buttons->addButton(QStringLiteral("Reset default"), QDialogButtonBox::ResetRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CPostDia::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(Reset, &QPushButton::clicked, this, [this] { done(ResetResult); });
    grid->addWidget(buttons, TraceCount + 2, 0, 1, MaxColumn + 1);
}

QLineEdit* CPostDia::NumberEdit(double value, uint32_t colour) {
    auto* edit = new QLineEdit(QString::number(value, 'g', 6), this);
    edit->setFixedWidth(NumberEditWidth);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, ColorOf(colour));
    edit->setPalette(palette);
    return edit;
}

bool CPostDia::Refuse(QLineEdit* edit, const QString& message) {
    if (Tell)
        Tell(message);
    else
        QMessageBox::warning(this, windowTitle(), message);
    edit->setFocus();
    edit->selectAll();
    return false;
}

void CPostDia::accept() {
    for (const Row& row : Rows) {
        const auto coefficient = NumberIn(row.Coefficient);
        if (!coefficient || *coefficient < 0 || *coefficient > MaxFilterCoefficient) {
            Refuse(row.Coefficient, QStringLiteral("Please enter a number between 0 and 0.99."));
            return;
        }
        for (QLineEdit* limit : {row.Min, row.Max})
            if (!NumberIn(limit)) {
                Refuse(limit, QStringLiteral("Please enter a number."));
                return;
            }
    }
    QDialog::accept();
}

bool CPostDia::ApplyTo(GraphSettings& settings) const {
    bool slopeWithoutHold = false;
    for (int i = 0; i < TraceCount; ++i) {
        const Row& row = Rows[static_cast<size_t>(i)];
        TraceSettings& t = settings.Traces[i];
        t.HoldMax = t.HoldMin = row.Hold->isChecked();
        slopeWithoutHold |= t.Mode() == DerivativeMode::Slope && !t.HoldMax;
        t.FiltCoeff = NumberIn(row.Coefficient).value_or(t.FiltCoeff);
        t.Filter = row.Filter->isChecked();
        t.MaxHold = NumberIn(row.Max).value_or(t.MaxHold);
        t.MinHold = NumberIn(row.Min).value_or(t.MinHold);
        t.Label = row.Label->text().toStdString();
        t.Enabled = row.On->isChecked();
    }
    settings.Title = Title->text().toStdString();
    return slopeWithoutHold;
}

} // namespace kv
