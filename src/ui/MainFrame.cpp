#include "ui/MainFrame.h"

#include <QCloseEvent>
#include <QDockWidget>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

#include "ui/SettingsBar.h"

namespace kv {

CMainFrame::CMainFrame(CaptureSource* capture, QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QString::fromLatin1(FrameTitle));
    ViewWidget = new CChildView(this, capture);
    setCentralWidget(ViewWidget);
    BuildBars();
    BuildMenus();
    statusBar()->showMessage(QStringLiteral("Kestrovane timegrapher: ready"));
}

void CMainFrame::BuildBars() {
    Tools = addToolBar(QStringLiteral("Tool bar"));
    Tools->setObjectName(QStringLiteral("ToolBar"));
    Tools->setMovable(false);
    Bar = new SettingsBar(*ViewWidget, this);
    Bar->setMovable(false);
    addToolBar(Qt::TopToolBarArea, Bar);
    MixerBar = new QDockWidget(QStringLiteral("Mixer"), this);
    MixerBar->setObjectName(QStringLiteral("MixerBar"));
    MixerBar->setFeatures(QDockWidget::NoDockWidgetFeatures);
    MixerBar->setWidget(new QWidget(MixerBar));
    addDockWidget(Qt::RightDockWidgetArea, MixerBar);
}

void CMainFrame::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("E&xit"), this, &QWidget::close);
    QMenu* commands = menuBar()->addMenu(QStringLiteral("&Commands"));
    QAction* run = commands->addAction(QStringLiteral("&Run"), ViewWidget, &CChildView::Run);
    run->setCheckable(true);
    connect(ViewWidget, &CChildView::RunningChanged, run, &QAction::setChecked);
    Tools->addAction(run);
    commands->addAction(QStringLiteral("Auto &centring "), ViewWidget, &CChildView::CentreNow);
    QMenu* view = menuBar()->addMenu(QStringLiteral("View"));
    QAction* full =
        view->addAction(QStringLiteral("Full screen"), this, &CMainFrame::ToggleFullScreen);
    full->setShortcut(QKeySequence(Qt::Key_F11));
    full->setShortcutContext(Qt::ApplicationShortcut);
    addAction(full); // F11 must work while the menu bar is hidden
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
    QMainWindow::closeEvent(event);
}

} // namespace kv
