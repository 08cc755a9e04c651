// The log commands of the view: choosing the log file, clearing it, switching logging on and off
// and annotating it. The records themselves are written by the LogWriter on the capture thread.
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/ChildView.h"
#include "ui/CommandTable.h"

namespace kv {

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

CommandState CChildView::LogCommandStatus(int id) const {
    CommandState s;
    if (id == cmd::ClearLog) s.Enabled = Log.HasLogFile();
    if (id == cmd::EnableLogging) {
        s.Enabled = Log.HasLogFile();
        s.Checked = Log.LoggingOn();
    }
    if (id == cmd::AnnotateLog) s.Enabled = Log.CanAnnotate(App.PaperTape != 0);
    return s;
}

bool CChildView::OnLogCommand(int id) {
    switch (id) {
    case cmd::ChooseLog:
        ChooseLogFile();
        return true;
    case cmd::ClearLog:
        if (ConfirmClearLog()) Log.ClearLogFile();
        return true;
    case cmd::EnableLogging:
        Log.ToggleLogging();
        return true;
    case cmd::AnnotateLog: {
        CAnnotateDlg dialog(this);
        if (dialog.exec() == QDialog::Accepted)
            Log.AnnotateLog(dialog.Trace(), dialog.Text().toStdString());
        RequestRepaint();
        return true;
    }
    default:
        return false;
    }
}

void CChildView::ChooseLogFile() {
    QFileDialog dialog(this, QString(), QString::fromStdString(App.LogFile2),
                       QStringLiteral("Log files (*.log);;Text files (*.txt);;All files (*)"));
    dialog.setDefaultSuffix(QStringLiteral("log"));
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    Log.ChooseLogFile(dialog.selectedFiles().first().toStdString());
    SaveAllSettings();
}

bool CChildView::ConfirmClearLog() {
    if (ConfirmHook)
        return ConfirmHook(
            QStringLiteral("Are you sure you want to delete the log file contents?"));
    return QMessageBox::question(this, QStringLiteral("Kestrovane"),
                                 QStringLiteral("Are you sure you want to delete the log file "
                                                "contents?"),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void CChildView::WriteLogRecord(int mode) {
    Log.WriteLogRecord(mode);
}

} // namespace kv
