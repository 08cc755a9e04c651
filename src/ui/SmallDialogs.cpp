#include "ui/SmallDialogs.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
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
    layout->addLayout(texts);
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignTop);
}

} // namespace kv
