// SPDX-License-Identifier: GPL-3.0-or-later
// The user guide inside the program: the guide's HTML pages in a text browser, a contents list of
// pages and their sections beside it, and a search field that finds a text anywhere in the guide,
// forwards and backwards, from page to page.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTreeWidget>
#include <QWidget>

namespace kv {

// The folder that holds the guide (its "index.html"): the installed one beside the program
// (share/kestrovane/guide under the prefix whose bin folder is `programDirectory`), else the
// source tree's the program was built from. An empty text when neither exists.
QString FindGuideDirectory(const QString& programDirectory);
// The same for the running program.
QString FindGuideDirectory();

// One page of the guide as the contents list shows it: the file, its title and its sections.
struct GuidePage {
    QString File; // name inside the guide's folder, such as "index.html"
    QString Title;
    struct Section {
        QString Anchor;
        QString Title;
    };
    std::vector<Section> Sections;
};

// The pages of the guide in reading order: "index.html" first, then every page it links to as a
// whole (not to one of its sections), in the order of those links. Empty when the folder has no
// index page.
std::vector<GuidePage> ReadGuideContents(const QString& directory);

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    // `directory` is the guide's folder; when it is empty or holds no guide the window says so.
    explicit HelpWindow(const QString& directory, QWidget* parent = nullptr);

    bool HasGuide() const { return !Pages.empty(); }
    // Shows a page of the guide (a file name, optionally with "#anchor").
    void ShowPage(const QString& fileAndAnchor);
    // Finds the search field's text after (or before) the current selection, going on to the
    // following (or preceding) pages and round; false, with a note, when the guide lacks it.
    bool FindNext();
    bool FindPrevious();

    QTextBrowser* Browser() const { return Text; }
    QTreeWidget* Contents() const { return ContentsList; }
    QLineEdit* SearchField() const { return Search; }
    QLabel* SearchNote() const { return Note; }
    // The page now shown: its file name inside the guide's folder.
    QString CurrentPage() const;

private:
    void BuildLayout();
    void FillContents();
    void ShowMissingGuide();
    bool Find(QTextDocument::FindFlags flags);
    bool FindOnPage(int page, QTextDocument::FindFlags flags);
    void OnContentsClicked(QTreeWidgetItem* item);

    QString Directory;
    std::vector<GuidePage> Pages;
    QTreeWidget* ContentsList = nullptr;
    QTextBrowser* Text = nullptr;
    QLineEdit* Search = nullptr;
    QPushButton* NextButton = nullptr;
    QPushButton* PreviousButton = nullptr;
    QLabel* Note = nullptr;
};

} // namespace kv
