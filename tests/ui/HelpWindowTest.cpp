// SPDX-License-Identifier: GPL-3.0-or-later
// The user guide and its window: the guide names every command of the real menu bar, its pictures
// and links resolve, the window opens from F1, "Help Topics" and the tool bar as one window, lists
// the pages and sections, finds words from page to page, and says so when the guide is missing.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocumentFragment>

#include "SignalSource.h"
#include "ui/app/MainFrame.h"
#include "ui/common/CommandTable.h"
#include "ui/help/HelpWindow.h"

namespace kv {
namespace {

const QString GuideDir = QStringLiteral(KV_GUIDE_DIR);

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList GuidePages() {
    return QDir(GuideDir).entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name);
}

// A menu text as the guide writes it: without the "&" of the access key, the key shown after the
// tab, and the "..." or "?" that mark a dialog or a switch.
QString CommandName(QString label) {
    label = label.section('\t', 0, 0).remove('&').trimmed();
    static const QRegularExpression marks(QStringLiteral("\\s*(\\.\\.\\.|\\?)$"));
    return label.remove(marks).trimmed();
}

// Every menu title and command of a menu, walked as the user sees it.
void CollectCommands(const QMenu* menu, QStringList& names) {
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator()) continue;
        names << CommandName(action->text());
        if (action->menu()) CollectCommands(action->menu(), names);
    }
}

// The commands the guide names: every text it marks as a command, entities decoded.
QSet<QString> CommandsNamedInGuide() {
    static const QRegularExpression command(QStringLiteral("<b class=\"cmd\">(.*?)</b>"),
                                            QRegularExpression::DotMatchesEverythingOption);
    QSet<QString> named;
    for (const QString& page : GuidePages())
        for (auto it = command.globalMatch(ReadText(GuideDir + "/" + page)); it.hasNext();)
            named << QTextDocumentFragment::fromHtml(it.next().captured(1))
                         .toPlainText()
                         .simplified();
    return named;
}

struct UserGuide : ::testing::Test {
    test::SignalSource Source;
    test::CountingSink Speaker;
    CMainFrame Frame{CMainFrame::Options{nullptr, &Source, &Speaker, {}}};

    QList<HelpWindow*> GuideWindows() { return Frame.findChildren<HelpWindow*>(); }
};

TEST_F(UserGuide, NamesEveryCommandOfTheMenuBar) {
    QStringList commands;
    for (const QAction* top : Frame.menuBar()->actions()) {
        commands << CommandName(top->text());
        if (top->menu()) CollectCommands(top->menu(), commands);
    }
    ASSERT_GT(commands.size(), 80) << "the walk reached the submenus";
    ASSERT_TRUE(commands.contains("Start local standard cal")) << "labels lose only their marks";
    const QSet<QString> named = CommandsNamedInGuide();
    QStringList missing;
    for (const QString& c : commands)
        if (!named.contains(c)) missing << c;
    EXPECT_TRUE(missing.isEmpty()) << "not in the guide: " << missing.join(" | ").toStdString();
}

TEST(UserGuidePages, PicturesAndLinksResolve) {
    static const QRegularExpression picture(QStringLiteral("<img src=\"([^\"]+)\""));
    static const QRegularExpression link(
        QStringLiteral("href=\"([A-Za-z0-9_-]+\\.html)(#([A-Za-z0-9_-]+))?\""));
    const QStringList pages = GuidePages();
    ASSERT_TRUE(pages.contains("index.html"));
    int pictures = 0;
    for (const QString& page : pages) {
        const QString html = ReadText(GuideDir + "/" + page);
        for (auto it = picture.globalMatch(html); it.hasNext(); ++pictures) {
            const QString file = GuideDir + "/" + it.next().captured(1);
            EXPECT_FALSE(QImage(file).isNull()) << page.toStdString() << ": " << file.toStdString();
        }
        for (auto it = link.globalMatch(html); it.hasNext();) {
            const auto match = it.next();
            const QString target = ReadText(GuideDir + "/" + match.captured(1));
            EXPECT_FALSE(target.isEmpty()) << page.toStdString() << " links to a missing page "
                                           << match.captured(1).toStdString();
            if (match.hasCaptured(3)) {
                EXPECT_TRUE(target.contains("<a name=\"" + match.captured(3) + "\">"))
                    << page.toStdString() << " links to a missing section "
                    << match.captured(0).toStdString();
            }
        }
    }
    EXPECT_GE(pictures, 4) << "the window, the tape, the settings dialog and the viewer";
}

TEST_F(UserGuide, OpensFromF1HelpTopicsAndTheToolBarAsOneWindow) {
    Frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Frame));
    EXPECT_TRUE(GuideWindows().isEmpty());
    Frame.View().setFocus();
    QTest::keyClick(&Frame.View(), Qt::Key_F1);
    ASSERT_EQ(GuideWindows().size(), 1) << "F1 opens the guide";
    HelpWindow* guide = GuideWindows().front();
    EXPECT_TRUE(guide->isVisible());
    EXPECT_TRUE(guide->isWindow());
    EXPECT_TRUE(guide->HasGuide()) << "found beside the program or in the source tree";
    EXPECT_TRUE(guide->Browser()->toPlainText().contains("Kestrovane user guide"));

    guide->close();
    Frame.UpdateActions({Frame.ActionFor(cmd::HelpTopics), Frame.ActionFor(cmd::ContextHelp)});
    ASSERT_TRUE(Frame.ActionFor(cmd::HelpTopics)->isEnabled());
    Frame.ActionFor(cmd::HelpTopics)->trigger();
    EXPECT_TRUE(guide->isVisible()) << "Help Topics shows the closed window again";
    Frame.ActionFor(cmd::ContextHelp)->trigger();
    EXPECT_EQ(GuideWindows().size(), 1) << "one window, raised when asked for again";
}

TEST(UserGuideWindow, ContentsListEveryPageAndSection) {
    HelpWindow guide(GuideDir);
    const QTreeWidget* contents = guide.Contents();
    ASSERT_EQ(contents->topLevelItemCount(), GuidePages().size())
        << "the index links every page of the guide";
    EXPECT_EQ(contents->topLevelItem(0)->text(0), "Kestrovane user guide");
    EXPECT_EQ(contents->topLevelItem(1)->text(0), "What a timegrapher measures")
        << "the pages in the order of the index's list";
    QTreeWidgetItem* calibration = nullptr;
    for (int i = 0; i < contents->topLevelItemCount(); ++i) {
        QTreeWidgetItem* page = contents->topLevelItem(i);
        EXPECT_GT(page->childCount(), 0) << page->text(0).toStdString() << " has sections";
        if (page->text(0) == "Calibrating the sound card") calibration = page;
    }
    ASSERT_NE(calibration, nullptr);
    QTreeWidgetItem* gps = nullptr;
    for (int i = 0; i < calibration->childCount(); ++i)
        if (calibration->child(i)->text(0) == "Against a GPS receiver") gps = calibration->child(i);
    ASSERT_NE(gps, nullptr);

    guide.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&guide));
    guide.Contents()->scrollToItem(gps);
    const QRect place = guide.Contents()->visualItemRect(gps);
    QTest::mouseClick(guide.Contents()->viewport(), Qt::LeftButton, {}, place.center());
    EXPECT_EQ(guide.CurrentPage(), "calibration.html");
    EXPECT_EQ(guide.Browser()->source().fragment(), "gps");
    EXPECT_TRUE(guide.Browser()->toPlainText().contains("NMEA"));
}

TEST(UserGuideWindow, SearchFindsAWordOnAnotherPage) {
    HelpWindow guide(GuideDir);
    ASSERT_EQ(guide.CurrentPage(), "index.html");
    guide.SearchField()->setText("dialout");
    QTest::keyClick(guide.SearchField(), Qt::Key_Return);
    EXPECT_EQ(guide.CurrentPage(), "calibration.html");
    EXPECT_EQ(guide.Browser()->textCursor().selectedText(), "dialout");
    EXPECT_TRUE(guide.SearchNote()->text().isEmpty());

    guide.SearchField()->setText("no such word in the guide");
    EXPECT_FALSE(guide.FindNext());
    EXPECT_TRUE(guide.SearchNote()->text().contains("not in the guide"));
}

// A small guide of known pages, so the order of the matches is known.
struct SmallGuide : ::testing::Test {
    QTemporaryDir Dir;
    void Write(const QString& name, const QString& body) {
        QFile file(Dir.path() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            ("<html><head><title>" + name + "</title></head><body>" + body + "</body></html>")
                .toUtf8());
    }
    void SetUp() override {
        Write("index.html", "<h1>Start</h1><p>See <a href=\"two.html#b\">the second</a>.</p>"
                            "<a href=\"one.html\">1</a> <a href=\"two.html\">2</a>");
        Write("one.html", "<h2><a name=\"a\">First</a></h2><p>balance wheel</p>");
        Write("two.html", "<h2><a name=\"b\">Second</a></h2><p>balance spring and balance</p>");
    }
    int Position(const HelpWindow& guide) { return guide.Browser()->textCursor().position(); }
};

TEST_F(SmallGuide, ContentsFollowTheIndexListOfPages) {
    HelpWindow guide(Dir.path());
    const QTreeWidget* contents = guide.Contents();
    ASSERT_EQ(contents->topLevelItemCount(), 3) << "a page linked twice is listed once";
    EXPECT_EQ(contents->topLevelItem(1)->text(0), "one.html")
        << "a link to a section in the text does not decide the order";
    EXPECT_EQ(contents->topLevelItem(2)->text(0), "two.html");
    ASSERT_EQ(contents->topLevelItem(2)->childCount(), 1);
    EXPECT_EQ(contents->topLevelItem(2)->child(0)->text(0), "Second");
}

TEST_F(SmallGuide, NextAndPreviousWalkTheMatchesAcrossPagesAndRound) {
    HelpWindow guide(Dir.path());
    ASSERT_EQ(guide.Contents()->topLevelItemCount(), 3);
    guide.SearchField()->setText("balance");
    ASSERT_TRUE(guide.FindNext());
    EXPECT_EQ(guide.CurrentPage(), "one.html");
    ASSERT_TRUE(guide.FindNext());
    EXPECT_EQ(guide.CurrentPage(), "two.html");
    const int first = Position(guide);
    ASSERT_TRUE(guide.FindNext());
    EXPECT_EQ(guide.CurrentPage(), "two.html");
    EXPECT_GT(Position(guide), first) << "the second match on the same page";
    ASSERT_TRUE(guide.FindNext());
    EXPECT_EQ(guide.CurrentPage(), "one.html") << "round to the first page that has it";

    ASSERT_TRUE(guide.FindPrevious());
    EXPECT_EQ(guide.CurrentPage(), "two.html") << "backwards from the first match";
    EXPECT_GT(Position(guide), first) << "the last match of that page";
    ASSERT_TRUE(guide.FindPrevious());
    EXPECT_EQ(Position(guide), first);
}

TEST(UserGuideWindow, TheInstalledGuideComesBeforeTheSourceTrees) {
    QTemporaryDir prefix;
    ASSERT_TRUE(QDir(prefix.path()).mkpath("bin"));
    EXPECT_EQ(FindGuideDirectory(prefix.path() + "/bin"), QDir(GuideDir).absolutePath())
        << "nothing installed: the source tree's guide";
    ASSERT_TRUE(QDir(prefix.path()).mkpath("share/kestrovane/guide"));
    QFile index(prefix.path() + "/share/kestrovane/guide/index.html");
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("<html><head><title>Installed</title></head></html>");
    index.close();
    const QString installed = FindGuideDirectory(prefix.path() + "/bin");
    EXPECT_EQ(installed, QDir(prefix.path() + "/share/kestrovane/guide").absolutePath());
    HelpWindow guide(installed);
    EXPECT_EQ(guide.Contents()->topLevelItem(0)->text(0), "Installed");
}

TEST(UserGuideWindow, AMissingGuideSaysSoClearly) {
    QTemporaryDir empty;
    for (const QString& directory : {empty.path(), QString()}) {
        HelpWindow guide(directory);
        EXPECT_FALSE(guide.HasGuide());
        EXPECT_TRUE(guide.Browser()->toPlainText().contains("The user guide is missing"));
        EXPECT_EQ(guide.Contents()->topLevelItemCount(), 0);
        EXPECT_FALSE(guide.SearchField()->isEnabled());
        EXPECT_FALSE(guide.FindNext());
    }
}

} // namespace
} // namespace kv
