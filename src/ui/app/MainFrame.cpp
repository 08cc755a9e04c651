// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/app/MainFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDockWidget>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QResizeEvent>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <utility>

#include "settings/Profiles.h"
#include "settings/SettingsIO.h"
#include "ui/app/ToolBarIcons.h"
#include "ui/app/WrappingToolBar.h"
#include "ui/bars/MixerBar.h"
#include "ui/bars/SettingsBar.h"
#include "ui/common/CommandTable.h"
#include "ui/dialogs/SmallDialogs.h"
#include "ui/help/HelpWindow.h"

namespace kv {

CMainFrame::CMainFrame(const Options& options, const CalibrationSeams& calibration, QWidget* parent)
    : QMainWindow(parent), Store(options.Store) {
    setWindowTitle(QString::fromLatin1(FrameTitle));
    setWindowIcon(ApplicationIcon());
    ViewWidget = new CChildView(this, options.Capture, options.Output, calibration);
    setCentralWidget(ViewWidget);
    ViewWidget->OnCreate(Store, options.BundledSample, options.OpenFile);
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
    qApp->installEventFilter(this);
}

// The key filter goes before the frame does: destroying the bars sends events of their own.
CMainFrame::~CMainFrame() {
    qApp->removeEventFilter(this);
}

void CMainFrame::BuildBars() {
    Tools = new WrappingToolBar(QStringLiteral("Tool bar"), this);
    Tools->setObjectName(QStringLiteral("ToolBar"));
    Tools->setMovable(false);
    addToolBar(Qt::TopToolBarArea, Tools);
    CChildView* view = ViewWidget;
    Bar = new SettingsBar(
        view->Session(), [view](int id) { return view->CommandStatus(id); }, this);
    Bar->setMovable(false);
    addToolBar(Qt::TopToolBarArea, Bar);
    // The bars show the session; the view passes on what the session says changed.
    connect(view, &CChildView::TrainBoxChanged, Bar, &SettingsBar::ShowTrain);
    connect(view, &CChildView::LiftAngleBoxChanged, Bar, &SettingsBar::ShowLiftAngle);
    connect(view, &CChildView::MeasuringTimeBoxChanged, Bar, &SettingsBar::ShowMeasuringTime);
    MixerBarDock = new QDockWidget(QStringLiteral("Mixer"), this);
    MixerBarDock->setObjectName(QStringLiteral("MixerBar"));
    MixerBarDock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    Mixers = new MixerBar(view->Session(), MixerBarDock);
    connect(view, &CChildView::MixerChanged, Mixers, &MixerBar::Refresh);
    connect(view, &CChildView::InputLevelChanged, Mixers, &MixerBar::ShowInputLevel);
    MixerBarDock->setWidget(Mixers);
    addDockWidget(Qt::RightDockWidgetArea, MixerBarDock);
}

QAction* CMainFrame::NewAction(int id, const QString& label) {
    // The text after a tab is only shown; the keys themselves are on the key actions.
    auto* action = new QAction(label, this);
    action->setData(id);
    if (const CommandText* t = FindCommandText(id)) {
        action->setStatusTip(QString::fromUtf8(t->Prompt));
        action->setToolTip(QString::fromUtf8(t->Tip));
    }
    const std::vector<int>& tools = ToolBarLayout();
    if (std::find(tools.begin(), tools.end(), id) != tools.end()) action->setIcon(ToolBarIcon(id));
    connect(action, &QAction::triggered, this, [this, id] { RouteCommand(id); });
    return action;
}

// A command's first menu entry or tool-bar button makes its action; a further menu entry with a
// label of its own gets an action of its own, so each entry keeps its label.
QAction* CMainFrame::MakeAction(int id, const QString& label) {
    auto it = Actions.find(id);
    if (it == Actions.end()) return Actions[id] = NewAction(id, label);
    if (label.isEmpty() || it->second->text() == label) return it->second;
    return NewAction(id, label);
}

QAction* CMainFrame::ActionFor(int id) const {
    auto it = Actions.find(id);
    return it == Actions.end() ? nullptr : it->second;
}

const QList<QAction*>& CMainFrame::ToolBarButtons() const {
    return Tools->Buttons();
}

QAction* CMainFrame::KeyActionFor(int id) const {
    auto it = KeyActions.find(id);
    return it == KeyActions.end() ? nullptr : it->second;
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
    connect(menu, &QMenu::aboutToHide, this, &CMainFrame::HideMenuBarWhenIdle);
    return menu;
}

void CMainFrame::BuildMenus() {
    for (const MenuNode& top : MenuTree())
        menuBar()->addMenu(BuildMenu(top.Label, top.Children));
    BuildToolBar();
    BuildAccelerators();
    IdleUpdate = new QTimer(this);
    connect(IdleUpdate, &QTimer::timeout, this, [this] {
        if (Tools->isVisible()) UpdateActions(Tools->Buttons());
        if (Bar->isVisible()) Bar->UpdateControls();
    });
    IdleUpdate->start(250);
    UpdateActions(Tools->Buttons());
}

void CMainFrame::BuildToolBar() {
    for (int id : ToolBarLayout()) {
        if (id == 0) {
            Tools->AddSeparator();
            continue;
        }
        QAction* action = MakeAction(id, QString());
        if (action->text().isEmpty()) // tool-bar-only commands: the tip names them
            action->setText(action->toolTip());
        Tools->AddButton(action);
    }
}

// The keys of the accelerator table live on hidden actions of their own: a menu item shows only
// the key its label names, and a key runs its command only while the command is enabled.
void CMainFrame::BuildAccelerators() {
    for (const Accelerator& a : AcceleratorTable()) {
        QAction*& action = KeyActions[a.Id];
        if (!action) {
            action = new QAction(this);
            action->setData(a.Id);
            action->setShortcutContext(Qt::WindowShortcut);
            const int id = a.Id;
            connect(action, &QAction::triggered, this, [this, id] { RunKey(id); });
            addAction(action); // keys work while the menu bar is hidden
        }
        action->setShortcuts(action->shortcuts() << a.Key);
    }
}

void CMainFrame::RunKey(int id) {
    if (ViewWidget->CommandStatus(id).Enabled) RouteCommand(id);
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

// The user guide in its own window: made when first asked for, raised when asked for again.
void CMainFrame::OpenUserGuide() {
    if (!Guide) Guide = new HelpWindow(FindGuideDirectory(), this);
    Guide->show();
    Guide->raise();
    Guide->activateWindow();
}

void CMainFrame::EditTitle() {
    CTitleDlg dialog(QString::fromStdString(ViewWidget->App().Title), this);
    if (dialog.exec() != QDialog::Accepted) return;
    ViewWidget->App().Title = dialog.Title().toStdString();
    ViewWidget->update();
}

// The first show is maximized, restoring to a share of the screen, unless a saved placement says
// otherwise.
void CMainFrame::ShowAtStart() {
    WindowPlacement placement;
    placement.Show = ShowState::Maximized;
    placement.Normal = DefaultNormalRect();
    if (const auto saved = StoredPlacement()) placement = *saved;
    ApplyPlacement(placement);
    show();
}

WindowPlacement CMainFrame::CurrentPlacement() const {
    WindowPlacement p;
    p.Show = isMinimized()                     ? ShowState::Minimized
             : isMaximized() || isFullScreen() ? ShowState::Maximized
                                               : ShowState::Normal;
    p.Normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    return p;
}

namespace {

// How much of the screen's width and height a frame without a saved rectangle takes when it is
// not maximized.
constexpr int DefaultShareNumerator = 3, DefaultShareDenominator = 4;

// A rectangle that lies off every screen (one was removed or made smaller since it was saved) is
// moved onto the primary screen and shrunk to fit it; one whose centre is on a screen stays.
QRect OnScreen(const QRect& rect) {
    if (QGuiApplication::screenAt(rect.center())) return rect;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return rect;
    const QRect avail = screen->availableGeometry();
    QRect r(QPoint(), rect.size().boundedTo(avail.size()));
    r.moveCenter(avail.center());
    return r;
}

Qt::WindowState StateOf(ShowState show) {
    switch (show) {
    case ShowState::Minimized:
        return Qt::WindowMinimized;
    case ShowState::Maximized:
        return Qt::WindowMaximized;
    case ShowState::Normal:
        break;
    }
    return Qt::WindowNoState;
}

} // namespace

// The normal rectangle before one is saved: a share of the screen, centred.
QRect CMainFrame::DefaultNormalRect() const {
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s) return geometry();
    const QRect avail = s->availableGeometry();
    QRect r(QPoint(), avail.size() * DefaultShareNumerator / DefaultShareDenominator);
    r.moveCenter(avail.center());
    return r;
}

// The native window is made in the normal state at the normal rectangle: that is the rectangle
// the platform (or the window manager) returns to when the frame is restored.
void CMainFrame::ApplyPlacement(const WindowPlacement& placement) {
    setWindowState(Qt::WindowNoState);
    setGeometry(OnScreen(placement.Normal.isValid() ? placement.Normal : DefaultNormalRect()));
    create();
    setWindowState(StateOf(placement.Show));
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

void CMainFrame::ShowMenuBarFromKeyboard() {
    QMenuBar* bar = menuBar();
    bar->show();
    const QList<QAction*> menus = bar->actions();
    if (!menus.isEmpty()) bar->setActiveAction(menus.first());
}

// Runs once the menus have settled (moving from one menu to the next closes one before the next
// opens): hides the menu bar in full screen when no menu is open or highlighted any more.
void CMainFrame::HideMenuBarWhenIdle() {
    QTimer::singleShot(0, this, [this] {
        QMenuBar* bar = menuBar();
        if (!FullScreenMode || !bar->isVisible() || bar->activeAction() ||
            QApplication::activePopupWidget())
            return;
        bar->hide();
        ViewWidget->setFocus();
    });
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (FilterMenuKeys(watched, event)) return true;
    return QMainWindow::eventFilter(watched, event);
}

// F10, or Alt pressed and released alone, opens the first menu; in full screen they bring the
// hidden menu bar back until the menus are closed.
bool CMainFrame::FilterMenuKeys(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::FocusOut || type == QEvent::KeyPress) && watched == menuBar())
        HideMenuBarWhenIdle();
    if (type == QEvent::MouseButtonPress) AltAlone = false;
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return false;
    const auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return false;
    if (!OpensMenuBar(type, *static_cast<QKeyEvent*>(event))) return false;
    ShowMenuBarFromKeyboard();
    return true;
}

// Follows whether Alt is down with no other key; true for F10, and for Alt released alone while
// the menu bar is hidden in full screen.
bool CMainFrame::OpensMenuBar(QEvent::Type type, const QKeyEvent& key) {
    const bool alt = key.key() == Qt::Key_Alt;
    switch (type) {
    case QEvent::ShortcutOverride: // a key taken by a shortcut never comes as a press
        AltAlone = AltAlone && alt;
        return false;
    case QEvent::KeyPress:
        AltAlone = alt;
        return key.key() == Qt::Key_F10 && key.modifiers() == Qt::NoModifier;
    default:
        return alt && std::exchange(AltAlone, false) && FullScreenMode && !menuBar()->isVisible();
    }
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    PlaceSettingsBar();
}

// Beside the tool bar while both fit in one row at their full widths, else on a row of its own,
// where it wraps its controls only if even that row is too narrow for them.
void CMainFrame::PlaceSettingsBar() {
    const int tools = Tools->isHidden() ? 0 : Tools->sizeHint().width();
    const bool ownRow = tools + Bar->sizeHint().width() > width();
    if (ownRow == BarOnOwnRow) return;
    BarOnOwnRow = ownRow;
    if (ownRow)
        insertToolBarBreak(Bar);
    else
        removeToolBarBreak(Bar);
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
    if (!Store || v.App().Profile.empty()) return;
    const PrivateProfileFile file(ProfileFilePath());
    ToolBarRefresh refresh{[&v] { v.Session().RefreshLiftAngleBox(); },
                           [&v] { v.Session().RefreshMeasuringTimeBox(); }};
    LoadProfile(file, v.App().Profile, v.Core(), refresh);
    Bar->ShowTrain();
    Bar->ShowLiftAngle();
    Bar->ShowMeasuringTime();
}

} // namespace kv
