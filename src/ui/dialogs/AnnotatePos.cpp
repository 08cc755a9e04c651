// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs/AnnotatePos.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace kv {

namespace {

QLineEdit* NumberedEdit(const QString& text, int control) {
    auto* edit = new QLineEdit(text);
    edit->setObjectName(QStringLiteral("control%1").arg(control));
    return edit;
}

} // namespace

CAnnotatePos::CAnnotatePos(const QString& file, const QString& title, FileChooser chooseFile,
                           QWidget* parent)
    : QDialog(parent), File(NumberedEdit(file, FileControl)),
      Title(NumberedEdit(title, TitleControl)), Comment(NumberedEdit(QString(), CommentControl)),
      Browse(new QPushButton(QStringLiteral("Browse"))), ChooseFile(std::move(chooseFile)) {
    setWindowTitle(QStringLiteral("Annotate positional results in text file"));
    Browse->setObjectName(QStringLiteral("control%1").arg(BrowseControl));
    auto* layout = new QVBoxLayout(this);
    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(QStringLiteral("File")), 0, 0);
    fields->addWidget(File, 0, 1);
    fields->addWidget(Browse, 0, 2);
    fields->addWidget(new QLabel(QStringLiteral("Title (precedes the table)")), 1, 0);
    fields->addWidget(Title, 1, 1, 1, 2);
    fields->addWidget(new QLabel(QStringLiteral("Comment (follows the table)")), 2, 0);
    fields->addWidget(Comment, 2, 1, 1, 2);
    layout->addLayout(fields);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(Browse, &QPushButton::clicked, this, &CAnnotatePos::OnBrowse);
    layout->addWidget(buttons);
}

void CAnnotatePos::OnBrowse() {
    if (!ChooseFile) return;
    const QString chosen = ChooseFile(File->text());
    if (!chosen.isEmpty()) File->setText(chosen);
}

} // namespace kv
