// The title dialog (the free text at the top right of the display) and the About box.
#pragma once

#include <QDialog>
#include <QLineEdit>

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

} // namespace kv
