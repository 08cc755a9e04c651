// SPDX-License-Identifier: GPL-3.0-or-later
// The title dialog (the free text at the top right of the display), the About box and the
// "Annotate log" dialog.
#pragma once

#include <QDialog>
#include <QLineEdit>

class QButtonGroup;

namespace kv {

class CTitleDlg : public QDialog {
    Q_OBJECT
public:
    explicit CTitleDlg(const QString& title, QWidget* parent = nullptr);
    QString Title() const { return Edit->text(); }
    QLineEdit* TitleEdit() const { return Edit; }

private:
    QLineEdit* Edit;
};

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// The "Annotate log" dialog: a comment and the trace it belongs to.
class CAnnotateDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAnnotateDlg(QWidget* parent = nullptr);
    int Trace() const;
    QString Text() const;

private:
    QLineEdit* Comment;
    QButtonGroup* Traces;
};

} // namespace kv
