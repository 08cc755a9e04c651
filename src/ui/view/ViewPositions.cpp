// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/ViewPositions.h"

#include <QFileDialog>

#include "ui/dialogs/AnnotatePos.h"
#include "ui/view/ChildView.h"

namespace kv {

void ViewPositionUser::AskToTurnWatch() {
    View.RequestRepaint();
}

std::optional<ResultsAnnotation>
ViewPositionUser::AnnotateResults(const ResultsAnnotation& proposed) {
    CAnnotatePos dialog(
        QString::fromStdString(proposed.File), QString::fromStdString(proposed.Title),
        [this](const QString& initial) { return ChooseResultsFile(View, initial); }, &View);
    const bool accepted = View.Hooks.AnnotatePosHook ? View.Hooks.AnnotatePosHook(dialog)
                                                     : dialog.exec() == QDialog::Accepted;
    if (!accepted) return std::nullopt;
    return ResultsAnnotation{dialog.FileEdit()->text().toStdString(),
                             dialog.TitleEdit()->text().toStdString(),
                             dialog.CommentEdit()->text().toStdString()};
}

QString ChooseResultsFile(CChildView& view, const QString& initial) {
    if (view.Hooks.TextFileHook) return view.Hooks.TextFileHook(initial);
    QFileDialog dialog(&view, QString(), initial,
                       QStringLiteral("Text files (*.txt);;All files (*)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

void ChooseTextFileCommand(CChildView& view) {
    const QString path = ChooseResultsFile(view, QString::fromStdString(view.App().TextFile2));
    if (path.isEmpty()) return;
    view.App().TextFile2 = path.toStdString();
    view.Session().Save();
}

} // namespace kv
