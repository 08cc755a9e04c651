// The log commands of the view: choosing the log file, clearing it, switching logging on and off
// and annotating it. The records themselves are written by the LogWriter on the capture thread.
#include <QFileDialog>
#include <QMessageBox>

#include "ui/ChildView.h"
#include "ui/CommandTable.h"
#include "ui/SmallDialogs.h"

namespace kv {

CommandState CChildView::LogCommandStatus(int id) const {
    CommandState s;
    if (id == cmd::ClearLog) s.Enabled = Measuring.LogFile().HasLogFile();
    if (id == cmd::EnableLogging) {
        s.Enabled = Measuring.LogFile().HasLogFile();
        s.Checked = Measuring.LogFile().LoggingOn();
    }
    if (id == cmd::AnnotateLog) s.Enabled = Measuring.LogFile().CanAnnotate(App().PaperTape != 0);
    return s;
}

bool CChildView::OnLogCommand(int id) {
    switch (id) {
    case cmd::ChooseLog:
        ChooseLogFile();
        return true;
    case cmd::ClearLog:
        if (ConfirmClearLog()) Measuring.LogFile().ClearLogFile();
        return true;
    case cmd::EnableLogging:
        Measuring.LogFile().ToggleLogging();
        return true;
    case cmd::AnnotateLog: {
        CAnnotateDlg dialog(this);
        if (dialog.exec() == QDialog::Accepted)
            Measuring.LogFile().AnnotateLog(dialog.Trace(), dialog.Text().toStdString());
        RequestRepaint();
        return true;
    }
    default:
        return false;
    }
}

void CChildView::ChooseLogFile() {
    QFileDialog dialog(this, QString(), QString::fromStdString(App().LogFile2),
                       QStringLiteral("Log files (*.log);;Text files (*.txt);;All files (*)"));
    dialog.setDefaultSuffix(QStringLiteral("log"));
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    Measuring.LogFile().ChooseLogFile(dialog.selectedFiles().first().toStdString());
    Measuring.Save();
}

bool CChildView::ConfirmClearLog() {
    if (Hooks.ConfirmHook)
        return Hooks.ConfirmHook(
            QStringLiteral("Are you sure you want to delete the log file contents?"));
    return QMessageBox::question(this, QStringLiteral("Kestrovane"),
                                 QStringLiteral("Are you sure you want to delete the log file "
                                                "contents?"),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

} // namespace kv
