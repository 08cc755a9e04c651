// SPDX-License-Identifier: GPL-3.0-or-later
// The main frame: menu, tool bar and settings bar at the top, the mixer bar at the right, the
// status bar, and the measuring view as the only client. Saves and restores its placement.
#pragma once

#include <QKeyEvent>
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <map>
#include <optional>

#include "ui/common/WindowPlacement.h"
#include "ui/view/ChildView.h"

namespace kv {

class SettingsBar;
class HelpWindow;
class MixerBar;
class WrappingToolBar;

inline constexpr const char* FrameTitle = "Watch Escapement Analyser and Timer";

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // `store` (may be null) holds the settings and the window placement; `capture` and `output`
    // replace the sound card in tests. `OpenFile` is a recording to play and measure at once in
    // place of the waveform file, which stays the stored setting (`kestrovane FILE`).
    struct Options {
        SettingsStore* Store = nullptr;
        CaptureSource* Capture = nullptr;
        PlaybackSink* Output = nullptr;
        std::filesystem::path BundledSample;
        std::string OpenFile{};
    };
    explicit CMainFrame(const Options& options, QWidget* parent = nullptr)
        : CMainFrame(options, CalibrationSeams{}, parent) {}
    // `calibration` replaces the calibration's references, system clock and tick count (tests).
    CMainFrame(const Options& options, const CalibrationSeams& calibration,
               QWidget* parent = nullptr);
    explicit CMainFrame(CaptureSource* capture = nullptr, QWidget* parent = nullptr)
        : CMainFrame(Options{nullptr, capture, nullptr, {}}, parent) {}
    ~CMainFrame() override;

    CChildView& View() { return *ViewWidget; }
    SettingsBar& Settings() { return *Bar; }
    MixerBar& Mixer() { return *Mixers; }
    QDockWidget& MixerDock() { return *MixerBarDock; }

    // The first show at start-up: maximized, or as the saved placement says. The state is settled
    // before the window is mapped: a window manager takes the state a window is mapped with and
    // may drop a state change that arrives while it is still mapping the window.
    void ShowAtStart();
    // The placement to save: the show state and the normal rectangle, which is kept while the
    // frame is maximized or full screen (full screen counts as maximized).
    WindowPlacement CurrentPlacement() const;
    // Sets the normal rectangle (moved onto a screen when it lies off every screen) and the show
    // state. Meant for a frame that is not shown yet.
    void ApplyPlacement(const WindowPlacement& placement);
    void ToggleFullScreen();
    bool IsFullScreenMode() const { return FullScreenMode; }

    // Called with the placement text when the frame closes; by default it goes to "WindowPos"
    // of section "Initial" in the settings store.
    std::function<void(const QString&)> SavePlacement;
    // The placement saved in the store, if any.
    std::optional<WindowPlacement> StoredPlacement() const;

    // Runs a command by id: the view first, then the frame and the application.
    void RouteCommand(int id);
    // Refreshes the check and enable state of the given actions (before a menu shows, and
    // periodically for the visible tool-bar buttons).
    void UpdateActions(const QList<QAction*>& actions);
    // The action of a command's first menu entry or tool-bar button.
    QAction* ActionFor(int id) const;
    // The hidden action that carries a command's keys from the accelerator table.
    QAction* KeyActionFor(int id) const;
    // The tool bar's buttons' actions in order, a separator action where a separator stands.
    const QList<QAction*>& ToolBarButtons() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void BuildBars();
    void BuildToolBar();
    void PlaceSettingsBar();
    void BuildAccelerators();
    QMenu* BuildMenu(const QString& title, const std::vector<struct MenuNode>& items);
    QAction* MakeAction(int id, const QString& label);
    QAction* NewAction(int id, const QString& label);
    void RunKey(int id);
    QRect DefaultNormalRect() const;
    // The menu bar in full screen: shown while it is used from the keyboard, hidden again after.
    void ShowMenuBarFromKeyboard();
    void HideMenuBarWhenIdle();
    bool FilterMenuKeys(QObject* watched, QEvent* event);
    bool OpensMenuBar(QEvent::Type type, const QKeyEvent& key);
    void ShowPopup(int id);
    void EditTitle();
    void OpenUserGuide();
    HelpWindow* Guide = nullptr; // the user guide's window, made when first asked for
    void LoadSelectedProfile();

    CChildView* ViewWidget = nullptr;
    SettingsBar* Bar = nullptr;
    bool BarOnOwnRow = false; // the settings bar is below the tool bar, not beside it
    WrappingToolBar* Tools = nullptr;
    QDockWidget* MixerBarDock = nullptr;
    MixerBar* Mixers = nullptr;
    bool FullScreenMode = false;
    SettingsStore* Store = nullptr;
    std::map<int, QAction*> Actions;
    std::map<int, QAction*> KeyActions;
    bool AltAlone = false; // Alt is down and no other key was pressed since
    QTimer* IdleUpdate = nullptr;
};

} // namespace kv
