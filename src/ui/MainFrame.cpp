#include "ui/MainFrame.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDockWidget>
#include <QFileInfo>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>

#include "settings/Profiles.h"
#include "settings/SettingsIO.h"
#include "ui/CommandTable.h"
#include "ui/SettingsBar.h"
#include "ui/SmallDialogs.h"
#include "ui/ToolBarIcons.h"

namespace kv {

CMainFrame::CMainFrame(const Options& options, QWidget* parent)
    : QMainWindow(parent), Store(options.Store) {
    setWindowTitle(QString::fromLatin1(FrameTitle));
    setWindowIcon(ApplicationIcon());
    ViewWidget = new CChildView(this, options.Capture, options.Output);
    setCentralWidget(ViewWidget);
    ViewWidget->OnCreate(Store, options.BundledSample);
    connect(ViewWidget, &CChildView::CommandRequested, this, &CMainFrame::RouteCommand,
            Qt::QueuedConnection);
    BuildBars();
    BuildMenus();
    LoadSelectedProfile();
    if (Store)
        SavePlacement = [this](const QString& text) {
            Store->WriteText("Initial", "WindowPos", text.toStdString());
        };
    statusBar()->showMessage(QStringLiteral("Kestrovane timegrapher: ready"));
}

void CMainFrame::BuildBars() {
    Tools = addToolBar(QStringLiteral("Tool bar"));
    Tools->setObjectName(QStringLiteral("ToolBar"));
    Tools->setMovable(false);
    Tools->setIconSize(QSize(16, 15));
    Bar = new SettingsBar(*ViewWidget, this);
    Bar->setMovable(false);
    addToolBar(Qt::TopToolBarArea, Bar);
    MixerBar = new QDockWidget(QStringLiteral("Mixer"), this);
    MixerBar->setObjectName(QStringLiteral("MixerBar"));
    MixerBar->setFeatures(QDockWidget::NoDockWidgetFeatures);
    MixerBar->setWidget(new QWidget(MixerBar));
    addDockWidget(Qt::RightDockWidgetArea, MixerBar);
}

QAction* CMainFrame::MakeAction(int id, const QString& label) {
    auto it = Actions.find(id);
    if (it != Actions.end()) return it->second;
    // The text after a tab is only shown; the keys themselves come from the accelerator table.
    auto* action = new QAction(label, this);
    action->setData(id);
    action->setShortcutContext(Qt::WindowShortcut);
    if (const CommandText* t = FindCommandText(id)) {
        action->setStatusTip(QString::fromUtf8(t->Prompt));
        action->setToolTip(QString::fromUtf8(t->Tip));
    }
    connect(action, &QAction::triggered, this, [this, id] { RouteCommand(id); });
    Actions[id] = action;
    addAction(action); // shortcuts work while the menu bar is hidden
    return action;
}

QAction* CMainFrame::ActionFor(int id) const {
    auto it = Actions.find(id);
    return it == Actions.end() ? nullptr : it->second;
}

QMenu* CMainFrame::BuildMenu(const QString& title, const std::vector<MenuNode>& items) {
    auto* menu = new QMenu(title, this);
    for (const MenuNode& node : items) {
        if (node.IsSeparator())
            menu->addSeparator();
        else if (node.IsSubmenu())
            menu->addMenu(BuildMenu(node.Label, node.Children));
        else
            menu->addAction(MakeAction(node.Id, node.Label));
    }
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateActions(menu->actions()); });
    return menu;
}

void CMainFrame::BuildMenus() {
    for (const MenuNode& top : MenuTree())
        menuBar()->addMenu(BuildMenu(top.Label, top.Children));
    BuildToolBar();
    BuildAccelerators();
    IdleUpdate = new QTimer(this);
    connect(IdleUpdate, &QTimer::timeout, this, [this] {
        if (Tools->isVisible()) UpdateActions(Tools->actions());
        if (Bar->isVisible()) Bar->UpdateControls();
    });
    IdleUpdate->start(250);
    UpdateActions(Tools->actions());
}

void CMainFrame::BuildToolBar() {
    for (int id : ToolBarLayout()) {
        if (id == 0) {
            Tools->addSeparator();
            continue;
        }
        QAction* action = MakeAction(id, QString());
        if (action->text().isEmpty()) // tool-bar-only commands: the tip names them
            action->setText(action->toolTip());
        action->setIcon(ToolBarIcon(id));
        Tools->addAction(action);
    }
}

// Keys of the accelerator table that no menu item shows.
void CMainFrame::BuildAccelerators() {
    for (const Accelerator& a : AcceleratorTable()) {
        QAction* action = MakeAction(a.Id, QString());
        if (action->shortcut().isEmpty()) {
            action->setShortcut(a.Key);
        } else if (action->shortcut() != a.Key) {
            auto keys = action->shortcuts();
            if (!keys.contains(a.Key)) keys << a.Key;
            action->setShortcuts(keys);
        }
    }
}

void CMainFrame::UpdateActions(const QList<QAction*>& actions) {
    for (QAction* action : actions) {
        const int id = action->data().toInt();
        if (id <= 0) continue;
        const CommandState state = ViewWidget->CommandStatus(id);
        action->setCheckable(state.Checked || action->isCheckable());
        action->setChecked(state.Checked);
        action->setEnabled(state.Enabled);
    }
}

void CMainFrame::RouteCommand(int id) {
    if (ViewWidget->OnCommand(id)) {
        Bar->ShowTrain();
        Bar->ShowMeasuringTime();
        Bar->ShowLiftAngle();
        return;
    }
    switch (id) {
    case cmd::FullScreen:
        ToggleFullScreen();
        break;
    case cmd::Exit:
        close();
        break;
    case cmd::About:
        CAboutDlg(this).exec();
        break;
    case cmd::HelpTopics:
    case cmd::Help:
    case cmd::ContextHelp:
        OpenUserGuide();
        break;
    case cmd::Title:
        EditTitle();
        break;
    case cmd::Enter:
        Bar->ApplyTypedTexts();
        ViewWidget->setFocus();
        break;
    case cmd::TrainButton:
        Bar->OnTrainButton();
        break;
    case cmd::MagPopup:
    case cmd::FeedPopup:
    case cmd::ZoomPopup:
        ShowPopup(id);
        break;
    default:
        break; // keys without a handler do nothing
    }
}

void CMainFrame::ShowPopup(int id) {
    QMenu popup;
    const std::vector<PopupItem> items = ViewWidget->PopupItems(id);
    for (size_t i = 0; i < items.size(); ++i) {
        QAction* a = popup.addAction(items[i].Label);
        a->setCheckable(true);
        a->setChecked(items[i].Checked);
        a->setEnabled(items[i].Enabled);
        a->setData(static_cast<int>(i + 1));
    }
    if (QAction* chosen = popup.exec(QCursor::pos()))
        ViewWidget->ApplyPopupChoice(id, chosen->data().toInt());
}

// The user guide: the installed README, else the one of the source tree this was built from.
void CMainFrame::OpenUserGuide() {
    const QString installed =
        QCoreApplication::applicationDirPath() + "/../share/doc/kestrovane/README.md";
    for (const QString& path : {installed, QStringLiteral(KV_SOURCE_README)}) {
        if (QFileInfo::exists(path)) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
            return;
        }
    }
    ViewWidget->ShowMessageText(QStringLiteral("The user guide is not installed."));
}

void CMainFrame::EditTitle() {
    CTitleDlg dialog(QString::fromStdString(ViewWidget->App.Title), this);
    if (dialog.exec() != QDialog::Accepted) return;
    ViewWidget->App.Title = dialog.Title().toStdString();
    ViewWidget->update();
}

WindowPlacement CMainFrame::CurrentPlacement() const {
    WindowPlacement p;
    p.Show = isMinimized()   ? ShowState::Minimized
             : isMaximized() ? ShowState::Maximized
                             : ShowState::Normal;
    p.Normal = normalGeometry();
    return p;
}

void CMainFrame::ApplyPlacement(const WindowPlacement& placement) {
    if (placement.Normal.isValid()) setGeometry(placement.Normal);
    switch (placement.Show) {
    case ShowState::Minimized:
        showMinimized();
        break;
    case ShowState::Maximized:
        showMaximized();
        break;
    case ShowState::Normal:
        showNormal();
        break;
    }
}

void CMainFrame::ToggleFullScreen() {
    FullScreenMode = !FullScreenMode;
    statusBar()->setVisible(!FullScreenMode);
    Tools->setVisible(!FullScreenMode);
    Bar->setVisible(!FullScreenMode);
    menuBar()->setVisible(!FullScreenMode);
    if (FullScreenMode)
        showFullScreen();
    else
        showNormal();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (SavePlacement) SavePlacement(CurrentPlacement().Format());
    ViewWidget->OnDestroy();
    QMainWindow::closeEvent(event);
}

std::optional<WindowPlacement> CMainFrame::StoredPlacement() const {
    if (!Store) return std::nullopt;
    return WindowPlacement::Parse(
        QString::fromStdString(Store->GetText("Initial", "WindowPos", "")));
}

void CMainFrame::LoadSelectedProfile() {
    CChildView& v = *ViewWidget;
    if (!Store || v.App.Profile.empty()) return;
    const PrivateProfileFile file(ProfileFilePath());
    ToolBarRefresh refresh{[&v] { v.RefreshLiftAngleBox(); },
                           [&v] { v.RefreshMeasuringTimeBox(); }};
    LoadProfile(file, v.App.Profile, v.Core, refresh);
    Bar->ShowTrain();
    Bar->ShowLiftAngle();
    Bar->ShowMeasuringTime();
}

} // namespace kv
