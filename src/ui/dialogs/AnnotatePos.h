// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog "Annotate positional results in text file": the results file with a Browse button,
// a title that precedes the table and a comment that follows it.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <functional>

namespace kv {

class CAnnotatePos : public QDialog {
    Q_OBJECT
public:
    // Browse asks `chooseFile` for a file, starting from the field's text; an empty answer leaves
    // the field as it is.
    using FileChooser = std::function<QString(const QString& initial)>;

    // Control numbers of the fields, kept as their object names' suffixes.
    static constexpr int FileControl = 2197;
    static constexpr int BrowseControl = 2198;
    static constexpr int TitleControl = 1031;
    static constexpr int CommentControl = 1032;

    CAnnotatePos(const QString& file, const QString& title, FileChooser chooseFile,
                 QWidget* parent = nullptr);

    QLineEdit* FileEdit() const { return File; }
    QLineEdit* TitleEdit() const { return Title; }
    QLineEdit* CommentEdit() const { return Comment; }
    QPushButton* BrowseButton() const { return Browse; }

private:
    void OnBrowse();

    QLineEdit* File;
    QLineEdit* Title;
    QLineEdit* Comment;
    QPushButton* Browse;
    FileChooser ChooseFile;
};

} // namespace kv
