// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of the measuring window: identifiers, the menu tree with its labels, the tool bar
// order, the accelerator keys, and each command's status prompt and tool tip, word for word.
#pragma once

#include <QKeySequence>
#include <QString>
#include <functional>
#include <vector>

namespace kv {

// A menu entry: a command (Id > 0), a separator (Id 0, no label) or a submenu (children).
struct MenuNode {
    QString Label;
    int Id = 0;
    std::vector<MenuNode> Children;
    bool IsSeparator() const { return Id == 0 && Label.isEmpty(); }
    bool IsSubmenu() const { return !Children.empty(); }
};

struct CommandText {
    int Id;
    const char* Prompt;
    const char* Tip;
};

// The check and enable state of a command.
struct CommandState {
    bool Enabled = true;
    bool Checked = false;
};

// Asks the command router for a command's state (a bar's button follows its command).
using CommandStatusQuery = std::function<CommandState(int id)>;

// An item of the magnification, feed or zoom pop-up menu.
struct PopupItem {
    QString Label;
    bool Checked = false;
    bool Enabled = true;
};

struct Accelerator {
    QKeySequence Key;
    int Id;
};

// The top-level menus in order.
const std::vector<MenuNode>& MenuTree();
// The tool bar's command ids in order; 0 marks a separator.
const std::vector<int>& ToolBarLayout();
const std::vector<Accelerator>& AcceleratorTable();
// The prompt and tip of a command, or nothing.
const CommandText* FindCommandText(int id);
// The menu entry that starts a calibration run against each reference kind, by the kind's key
// in the references' registry; nullptr when `id` starts none.
const char* CalibrationReferenceKey(int id);
const std::vector<CommandText>& CommandTexts();

namespace cmd {
enum : int {
    Run = 32771,
    Positions = 32889,
    Settings = 32776,
    LoadProfile = 32895,
    TrainButton = 32873,
    Train14400 = 32801,
    Train18000 = 32802,
    Train19800 = 32803,
    Train21600 = 32804,
    Train25200 = 32965,
    Train28800 = 32805,
    Train36000 = 32806,
    Train1pps = 32843,
    Fork300 = 32860,
    Fork330 = 32861,
    Fork360 = 32847,
    Lever = 32968,
    Coaxial1 = 32969,
    Coaxial2 = 32972,
    AP1 = 32973,
    AP2 = 32974,
    Pendulum = 32943,
    TuningFork = 32975,
    Measure4 = 32824,
    Measure8 = 32821,
    Measure12 = 32822,
    Measure24 = 32823,
    MeasuringTimeBox = 32868,
    LiftBox = 32869,
    TrainBox = 32864,
    Enter = 32867,
    Clear = 2178,
    ClearTape = 32892,
    PaperTape = 32832,
    CursorDisk = 32872,
    Waveform = 32842,
    Freeze = 32949,
    Mag05 = 32836,
    Mag1 = 32933,
    Mag2 = 32833,
    Mag4 = 32834,
    Mag8 = 32845,
    Mag025 = 32838,
    MagPopup = 32899,
    Zoom05 = 32935,
    Zoom1 = 32784,
    Zoom2 = 32936,
    Zoom5 = 32977,
    Zoom10 = 32978,
    ZoomPopup = 32937,
    Feed1 = 32855,
    Feed10th = 32858,
    Feed100th = 32859,
    Feed10 = 32963,
    FeedPopup = 32945,
    RaiseThreshold = 32787,
    LowerThreshold = 32788,
    ShiftUp = 32789,
    ShiftDown = 32790,
    Centre = 32796,
    Autostop = 32866,
    DiscardOdd = 32939,
    Hpf = 32865,
    Averaging = 32799,
    InternetCal = 32870,
    GpsCal = 32952,
    LocalCal = 32884,
    FinishCal = 32885,
    CorrectClock = 32959,
    ChooseWaveform = 32903,
    RecordWaveform = 32904,
    PlaybackWaveform = 32905,
    ChooseLog = 32874,
    ClearLog = 32877,
    EnableLogging = 32878,
    AnnotateLog = 32879,
    ShowViewer = 32876,
    ViewerSettings = 32880,
    DeleteSection = 32901,
    ResetViewer = 32948,
    ChooseTextFile = 32898,
    Print = 57607,
    PrintImmediate = 57608,
    PrintTape = 32909,
    Title = 32979,
    FullScreen = 32950,
    About = 57664,
    Exit = 57665,
    HelpTopics = 57667,
    ContextHelp = 57669,
    Help = 57670,
    NextPane = 57680,
    PrevPane = 57681,
    EditCopy = 57634,
    EditCut = 57635,
    EditPaste = 57637,
    EditUndo = 57643,
};
} // namespace cmd

} // namespace kv
