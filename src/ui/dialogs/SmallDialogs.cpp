// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs/SmallDialogs.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kv {

CTitleDlg::CTitleDlg(const QString& title, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Title"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("This title will be placed at the top right of the display")));
    Edit = new QLineEdit(title);
    Edit->setObjectName(QStringLiteral("TitleEdit"));
    Edit->setMinimumWidth(400);
    layout->addWidget(Edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Vexlor"));
    auto* layout = new QHBoxLayout(this);
    auto* icon = new QLabel;
    icon->setPixmap(windowIcon().pixmap(32, 32));
    layout->addWidget(icon);
    auto* texts = new QVBoxLayout;
    auto* version = new QLabel(QStringLiteral(" Version 2.018"));
    version->setTextFormat(Qt::PlainText);
    texts->addWidget(version);
    texts->addWidget(new QLabel(
        QStringLiteral("Kestrovane timegrapher for Linux: rate, beat error and amplitude")));
    auto* licence = new QLabel(QStringLiteral(
        "Free software under the GNU General Public License, version 3 or any later version "
        "(GPL-3.0-or-later). It comes with no warranty."));
    licence->setWordWrap(true);
    texts->addWidget(licence);
    layout->addLayout(texts);
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignTop);
}

CAnnotateDlg::CAnnotateDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Annotate log"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Comment:")));
    Comment = new QLineEdit;
    layout->addWidget(Comment);
    auto* group = new QGroupBox(QStringLiteral("Trace to annotate"));
    auto* groupLayout = new QVBoxLayout(group);
    Traces = new QButtonGroup(this);
    const char* names[] = {"Rate", "Amplitude", "Deviation"};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QRadioButton(QString::fromLatin1(names[i]));
        Traces->addButton(button, i);
        groupLayout->addWidget(button);
    }
    Traces->button(0)->setChecked(true);
    layout->addWidget(group);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

int CAnnotateDlg::Trace() const {
    return Traces->checkedId();
}
QString CAnnotateDlg::Text() const {
    return Comment->text();
}

} // namespace kv
