// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/help/HelpWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QUrl>
#include <QVBoxLayout>
#include <initializer_list>

#include "ui/common/ScreenFit.h"

namespace kv {

namespace {

constexpr const char* IndexPage = "index.html";
// A window that shows a page of text beside its contents list without crowding either.
constexpr QSize WindowSize(1000, 720);
constexpr int ContentsWidth = 300; // the longest page titles fit

QString ReadText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

// Markup and entities out: what the reader sees of a title.
QString PlainText(const QString& html) {
    return QTextDocumentFragment::fromHtml(html).toPlainText().simplified();
}

QString PageTitle(const QString& html, const QString& fallback) {
    static const QRegularExpression title(QStringLiteral("<title>(.*?)</title>"),
                                          QRegularExpression::DotMatchesEverythingOption);
    const auto match = title.match(html);
    return match.hasMatch() ? PlainText(match.captured(1)) : fallback;
}

// Sections are the second-level headings, each holding its anchor: <h2><a name="x">Title</a>.
std::vector<GuidePage::Section> PageSections(const QString& html) {
    static const QRegularExpression heading(
        QStringLiteral("<h2[^>]*>\\s*<a name=\"([^\"]+)\">(.*?)</a>"),
        QRegularExpression::DotMatchesEverythingOption);
    std::vector<GuidePage::Section> sections;
    for (auto it = heading.globalMatch(html); it.hasNext();) {
        const auto match = it.next();
        sections.push_back({match.captured(1), PlainText(match.captured(2))});
    }
    return sections;
}

// The pages the index links to as whole pages (links to a section do not count), in the order
// of those links, that exist in the folder.
QStringList LinkedPages(const QString& directory, const QString& indexHtml) {
    static const QRegularExpression link(QStringLiteral("href=\"([A-Za-z0-9_-]+\\.html)\""));
    QStringList pages;
    for (auto it = link.globalMatch(indexHtml); it.hasNext();) {
        const QString page = it.next().captured(1);
        if (page != QLatin1String(IndexPage) && !pages.contains(page) &&
            QFileInfo::exists(directory + "/" + page))
            pages << page;
    }
    return pages;
}

GuidePage ReadPage(const QString& directory, const QString& file) {
    const QString html = ReadText(directory + "/" + file);
    return GuidePage{file, PageTitle(html, file), PageSections(html)};
}

} // namespace

QString FindGuideDirectory() {
    return FindGuideDirectory(QCoreApplication::applicationDirPath());
}

QString FindGuideDirectory(const QString& programDirectory) {
    const QStringList candidates = {programDirectory + "/../share/kestrovane/guide",
                                    QStringLiteral(KV_SOURCE_GUIDE)};
    for (const QString& directory : candidates)
        if (QFileInfo::exists(directory + "/" + IndexPage)) return QDir(directory).absolutePath();
    return {};
}

std::vector<GuidePage> ReadGuideContents(const QString& directory) {
    if (directory.isEmpty()) return {};
    const QString index = ReadText(directory + "/" + IndexPage);
    if (index.isEmpty()) return {};
    std::vector<GuidePage> pages{ReadPage(directory, IndexPage)};
    for (const QString& file : LinkedPages(directory, index))
        pages.push_back(ReadPage(directory, file));
    return pages;
}

HelpWindow::HelpWindow(const QString& directory, QWidget* parent)
    : QWidget(parent, Qt::Window), Directory(directory), Pages(ReadGuideContents(directory)) {
    setObjectName(QStringLiteral("UserGuide"));
    setWindowTitle(QStringLiteral("Kestrovane user guide"));
    BuildLayout();
    if (Pages.empty()) {
        ShowMissingGuide();
        return;
    }
    FillContents();
    ShowPage(QString::fromLatin1(IndexPage));
}

void HelpWindow::BuildLayout() {
    Search = new QLineEdit(this);
    Search->setPlaceholderText(QStringLiteral("Search the guide"));
    Search->setClearButtonEnabled(true);
    PreviousButton = new QPushButton(QStringLiteral("Previous"), this);
    NextButton = new QPushButton(QStringLiteral("Next"), this);
    Note = new QLabel(this);
    connect(Search, &QLineEdit::returnPressed, this, &HelpWindow::FindNext);
    connect(NextButton, &QPushButton::clicked, this, &HelpWindow::FindNext);
    connect(PreviousButton, &QPushButton::clicked, this, &HelpWindow::FindPrevious);

    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(new QLabel(QStringLiteral("Find:"), this));
    searchRow->addWidget(Search, 1);
    searchRow->addWidget(PreviousButton);
    searchRow->addWidget(NextButton);
    searchRow->addWidget(Note, 1);

    ContentsList = new QTreeWidget(this);
    ContentsList->setHeaderLabel(QStringLiteral("Contents"));
    connect(ContentsList, &QTreeWidget::itemClicked, this, &HelpWindow::OnContentsClicked);
    connect(ContentsList, &QTreeWidget::itemActivated, this, &HelpWindow::OnContentsClicked);
    Text = new QTextBrowser(this);
    Text->setOpenExternalLinks(true);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(ContentsList);
    splitter->addWidget(Text);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({ContentsWidth, WindowSize.width() - ContentsWidth});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(searchRow);
    layout->addWidget(splitter, 1);
    resize(WindowSize);
    FitToScreen(*this); // a HiDPI laptop screen may be lower than the window
}

void HelpWindow::FillContents() {
    for (const GuidePage& page : Pages) {
        auto* pageItem = new QTreeWidgetItem(ContentsList, {page.Title});
        pageItem->setData(0, Qt::UserRole, page.File);
        for (const GuidePage::Section& section : page.Sections) {
            auto* sectionItem = new QTreeWidgetItem(pageItem, {section.Title});
            sectionItem->setData(0, Qt::UserRole, page.File + "#" + section.Anchor);
        }
    }
    ContentsList->expandAll();
}

void HelpWindow::ShowMissingGuide() {
    const QString where = Directory.isEmpty() ? QStringLiteral("share/kestrovane/guide beside "
                                                               "the program, nor in the source "
                                                               "folder it was built from")
                                              : Directory.toHtmlEscaped();
    Text->setHtml(QStringLiteral("<h1>The user guide is missing</h1>"
                                 "<p>Its pages (index.html and the pages it links to) were not "
                                 "found in %1.</p><p>Installing the Kestrovane package again "
                                 "puts them back.</p>")
                      .arg(where));
    Note->setText(QStringLiteral("The user guide is missing."));
    for (QWidget* w : std::initializer_list<QWidget*>{Search, NextButton, PreviousButton})
        w->setEnabled(false);
}

void HelpWindow::ShowPage(const QString& fileAndAnchor) {
    if (Pages.empty()) return;
    const QString file = fileAndAnchor.section('#', 0, 0);
    const QString anchor = fileAndAnchor.section('#', 1);
    QUrl url = QUrl::fromLocalFile(Directory + "/" + file);
    if (!anchor.isEmpty()) url.setFragment(anchor);
    Text->setSource(url, QTextDocument::HtmlResource);
}

QString HelpWindow::CurrentPage() const {
    return Text->source().fileName();
}

void HelpWindow::OnContentsClicked(QTreeWidgetItem* item) {
    if (item) ShowPage(item->data(0, Qt::UserRole).toString());
}

bool HelpWindow::FindNext() {
    return Find({});
}

bool HelpWindow::FindPrevious() {
    return Find(QTextDocument::FindBackward);
}

bool HelpWindow::Find(QTextDocument::FindFlags flags) {
    const QString wanted = Search->text();
    if (wanted.isEmpty() || Pages.empty()) return false;
    Note->clear();
    if (Text->find(wanted, flags)) return true;
    const int count = static_cast<int>(Pages.size());
    int current = 0;
    for (int i = 0; i < count; ++i)
        if (Pages[i].File == CurrentPage()) current = i;
    const int step = flags.testFlag(QTextDocument::FindBackward) ? count - 1 : 1;
    // The other pages in turn, then the current one again from its edge, for a match that lies
    // before the starting point.
    for (int n = 1; n <= count; ++n)
        if (FindOnPage((current + n * step) % count, flags)) return true;
    Note->setText(QStringLiteral("\"%1\" is not in the guide.").arg(wanted));
    return false;
}

// Searches a whole page, from its start (or, backwards, from its end).
bool HelpWindow::FindOnPage(int page, QTextDocument::FindFlags flags) {
    if (CurrentPage() != Pages[page].File) ShowPage(Pages[page].File);
    QTextCursor cursor(Text->document());
    cursor.movePosition(flags.testFlag(QTextDocument::FindBackward) ? QTextCursor::End
                                                                    : QTextCursor::Start);
    Text->setTextCursor(cursor);
    return Text->find(Search->text(), flags);
}

} // namespace kv
