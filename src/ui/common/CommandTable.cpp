// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/common/CommandTable.h"

#include <algorithm>

namespace kv {

namespace {

MenuNode Item(const char* label, int id) {
    return MenuNode{QString::fromUtf8(label), id, {}};
}
MenuNode Separator() {
    return MenuNode{};
}
MenuNode Submenu(const char* label, std::vector<MenuNode> items) {
    return MenuNode{QString::fromUtf8(label), 0, std::move(items)};
}

std::vector<MenuNode> FileMenu() {
    return {Item("&Print immediate\tCtrl+P", cmd::PrintImmediate),
            Item("Prin&t ...", cmd::Print),
            Item("Print tape ...", cmd::PrintTape),
            Separator(),
            Item("Choose logfile ...", cmd::ChooseLog),
            Item("Clear log file contents", cmd::ClearLog),
            Item("Enable logging ?", cmd::EnableLogging),
            Item("Annotate log ...", cmd::AnnotateLog),
            Item("Show log file viewer ?", cmd::ShowViewer),
            Item("Viewer settings ...", cmd::ViewerSettings),
            Item("Delete section of graph ...", cmd::DeleteSection),
            Item("Reset viewer defaults", cmd::ResetViewer),
            Separator(),
            Item("Choose QC textfile ...", cmd::ChooseTextFile),
            Separator(),
            Item("Choose waveform file ...", cmd::ChooseWaveform),
            Separator(),
            Item("E&xit", cmd::Exit)};
}

std::vector<MenuNode> CommandsMenu() {
    return {
        Submenu("Train", {Item("1 pps", cmd::Train1pps), Item("14400", cmd::Train14400),
                          Item("18000", cmd::Train18000), Item("19800", cmd::Train19800),
                          Item("21600", cmd::Train21600), Item("25200", cmd::Train25200),
                          Item("28800", cmd::Train28800), Item("36000", cmd::Train36000),
                          Item("300 Hz", cmd::Fork300), Item("330 Hz", cmd::Fork330),
                          Item("360 Hz", cmd::Fork360)}),
        Submenu("Escapement",
                {Item("Lever", cmd::Lever), Item("Coaxial 1", cmd::Coaxial1),
                 Item("Coaxial 2", cmd::Coaxial2), Item("AP 1", cmd::AP1), Item("AP 2", cmd::AP2),
                 Item("Pendulum", cmd::Pendulum), Item("Tuning fork", cmd::TuningFork)}),
        Submenu("Rate measuring time",
                {Item("4 seconds", cmd::Measure4), Item("8 seconds", cmd::Measure8),
                 Item("12 seconds", cmd::Measure12), Item("24 seconds", cmd::Measure24)}),
        Item("Load profile ...", cmd::LoadProfile),
        Separator(),
        Item("&Run", cmd::Run),
        Item("Average in positions ...", cmd::Positions),
        Separator(),
        Item("&Waveform ?", cmd::Waveform),
        Item("Freeze waveform\tF", cmd::Freeze),
        Item("Paper &tape ?", cmd::PaperTape),
        Item("Clear tape", cmd::ClearTape),
        Item("Cursor disk ?", cmd::CursorDisk),
        Item("Autostop ?", cmd::Autostop),
        Item("Auto &centring ", cmd::Centre),
        Item("Discard odd ticks ?", cmd::DiscardOdd),
        Item("Pendulum clock ?", cmd::Pendulum),
        Separator(),
        Submenu("Magnification",
                {Item("0.5", cmd::Mag05), Item("1.0\tHome", cmd::Mag1), Item("2.0", cmd::Mag2),
                 Item("4.0", cmd::Mag4), Item("8.0", cmd::Mag8), Item("0.25", cmd::Mag025)}),
        Submenu("Waveform zoom",
                {Item("Free zoom 0.5", cmd::Zoom05), Item("Free zoom 1", cmd::Zoom1),
                 Item("Triggered zoom 2", cmd::Zoom2), Item("Triggered zoom 5", cmd::Zoom5),
                 Item("Triggered zoom 10", cmd::Zoom10)}),
        Submenu("Paper feed rate", {Item("10", cmd::Feed10), Item("1", cmd::Feed1),
                                    Item("1/10", cmd::Feed10th), Item("1/100", cmd::Feed100th)}),
        Separator(),
        Submenu("Thresholds", {Item("Raise unlock threshold", cmd::RaiseThreshold),
                               Item("Lower unlock threshold", cmd::LowerThreshold)}),
        Item("High-pass filter?", cmd::Hpf),
        Item("Amplitude averaging ?", cmd::Averaging),
        Separator(),
        Submenu("Calibration", {Item("Start internet cal\tCtrl+I", cmd::InternetCal),
                                Item("Start GPS cal\tCtrl+G", cmd::GpsCal), Separator(),
                                Item("Correct system clock ?", cmd::CorrectClock), Separator(),
                                Item("Start local standard cal\tCtrl+S", cmd::LocalCal),
                                Item("Finish calibration\tCtrl+F", cmd::FinishCal)}),
        Separator(),
        Item("Record waveform file ?", cmd::RecordWaveform),
        Item("Playback waveform file ?", cmd::PlaybackWaveform),
        Separator(),
        Item("Se&ttings ...", cmd::Settings)};
}

const std::vector<CommandText> Texts = {
    {cmd::Run, "Start-Stop", "Start-Stop"},
    {cmd::Settings, "Settings dialog", "Settings"},
    {cmd::Zoom1, "Waveform zoom 1", "Waveform zoom 1"},
    {cmd::RaiseThreshold, "Increase unlock threshold", "Raise unlock threshol"},
    {cmd::LowerThreshold, "Lower unlock threshold", "Lower unlock threshold"},
    {cmd::Centre, "Realign trace and waveform to datum position", "Centre the trace"},
    {cmd::Averaging, "Smooth amplitude and beat readings", "Reading smoothing"},
    {cmd::Train14400, "Train 14400 vph", "14400"},
    {cmd::Train18000, "Train 18000 vph", "18000"},
    {cmd::Train19800, "Train 19800 vph", "19800"},
    {cmd::Train21600, "Train 21600 vph", "21600"},
    {cmd::Train28800, "Train 28800 vph", "28800"},
    {cmd::Train36000, "Train 36000 vph", "36000"},
    {cmd::Train25200, "Train 25200 vph", "25200"},
    {cmd::Measure8, "Rate measuring time 8 seconds ", "8 secs average"},
    {cmd::Measure12, "Rate measuring time 12 seconds", "12 secs average"},
    {cmd::Measure24, "Rate measuring time 24 seconds ", " 24 secs average"},
    {cmd::Measure4, "Rate measuring time 4 seconds", "4 secs average"},
    {cmd::PaperTape, "Draw instantaneous phase dots", "Paper tape"},
    {cmd::Mag2, "Magnification 2.0", "Mag 2.0"},
    {cmd::Mag4, "Magnification 4.0", "Mag 4.0"},
    {cmd::Mag05, "Magnification 0.5", "Mag 0.5"},
    {cmd::Mag025, "Magnification 0.25", "Mag 0.25"},
    {cmd::Mag8, "Magnification 8.0", "Mag 8.0"},
    {cmd::Mag1, "Magnification 1.0", "Mag 1.0"},
    {cmd::Waveform, "Enable tick waveform", "Waveform"},
    {cmd::Train1pps, "1 pps 3600 vph", "3600"},
    {cmd::Fork360, "360 Hz tuning fork", "360 Hz"},
    {cmd::Feed1, "Paper feed normal speed", "Feed 1"},
    {cmd::Feed10th, "Paper feed 1/10 speed", "Feed 1/10"},
    {cmd::Feed100th, "Paper feed 1/100 speed", "Feed 1/100"},
    {cmd::Feed10, "Paper feed 10 times", "Paer feed ten"},
    {cmd::Fork300, "300 Hz tuning fork", "300 Hz"},
    {cmd::Fork330, "330 Hz tuning fork", "330 Hz"},
    {cmd::TrainBox, "Train selector combo box; you can select or type here", "Train selector"},
    {cmd::Hpf, "Apply a filter to reject interference", "Audio filter"},
    {cmd::Autostop, "Automatically stop paper feed if no ticks for five seconds",
     "Auto paper stop"},
    {cmd::MeasuringTimeBox, "Rate measuring time", "Measuring time"},
    {cmd::LiftBox, "Lift angle", "Lift angle"},
    {cmd::InternetCal, "Start internet timed calibration run", "Start internet calibration"},
    {cmd::CursorDisk, "Show or hide the cursor disk", "Cursor disk (CTRL+Click for manual)"},
    {cmd::TrainButton, "Select a train automatically; will try standard trains from 36000 to 3600",
     "Automatic train select"},
    {cmd::ChooseLog, "Select file name for logging", "Logfile name"},
    {cmd::ShowViewer, "Display or hide graph viewer", "Graph viewer"},
    {cmd::ClearLog, "Clear log file contents", "Clear log"},
    {cmd::EnableLogging, "Enable or disable logging", "Logging?"},
    {cmd::AnnotateLog, "Place notes on chosen graph trace and on paper tape", "Annotate"},
    {cmd::ViewerSettings, "Open graph viewer settings dialog", "Viewer settings"},
    {cmd::LocalCal, "Start local standard calibration run", "Start local calibration"},
    {cmd::FinishCal, "End calibration run", "End calibration"},
    {cmd::Positions, "Start positional averaging cycle", "Positional average"},
    {cmd::ClearTape, "Clear the paper tape", "Clear tape"},
    {cmd::LoadProfile, "Load previously saved profile", "Load profile"},
    {cmd::ChooseTextFile, "Choose filename for text file of positional results", "Text file"},
    {cmd::MagPopup, "Select tape horizontal trace magnification factor", "Trace magnification"},
    {cmd::DeleteSection,
     "Remove a section of the logfile graph previously marked by a left and right click",
     "Delete section"},
    {cmd::ChooseWaveform, "Waveform file for recording or playback", "Traing file"},
    {cmd::RecordWaveform, "Record a tick waveform for later playback", "Record waveform"},
    {cmd::PlaybackWaveform, "Playback a pre-recorded waveform", "Playback waveform"},
    {cmd::PrintTape, "Print paper tape as strips", "Print tape"},
    {cmd::Zoom05, "Waveform zoom 0.5", "Waveform zoom 0.5"},
    {cmd::Zoom2, "Triggered waveform, zoom 2", "Triggered waveform, zoom 2"},
    {cmd::ZoomPopup, "Choose waveform zoom", "Waveform zoom"},
    {cmd::DiscardOdd, "Only use even ticks to print a dot on the tape", "Even ticks only"},
    {cmd::Pendulum, "Pendulum clock mode; disable amplitude calculations etc", "Clock mode"},
    {cmd::FeedPopup, "Select paper tape vertical reduction", "Tape feed rate"},
    {cmd::ResetViewer, "Reset viewer settings to default values", "Viewer defaults"},
    {cmd::Freeze, "Freeze waveform for inspection", "Freeze waveform"},
    {cmd::FullScreen, "Make view full screen", "Full screen"},
    {cmd::GpsCal, "Start GPS timed calibration run", "Start GPS cal"},
    {cmd::CorrectClock, "Once stabilized, sychronize system clock to time standard",
     "Synchronize system clock"},
    {cmd::Lever, "Choose lever escapement", "Lever"},
    {cmd::Coaxial1, "Choose coaxial escapement", "Coaxial"},
    {cmd::Coaxial2, "Choose coaxial with advanced amplitude", "Coaxial advanced"},
    {cmd::AP1, "AP 1", "AP 1"},
    {cmd::AP2, "AP 2", "AP 2"},
    {cmd::TuningFork, "Tuning fork", "Tuning fork"},
    {cmd::Zoom5, "Triggered waveform, zoom 5", "Triggered waveform, zoom 5"},
    {cmd::Zoom10, "Triggered waveform, zoom 10", "Triggered waveform, zoom 10"},
    {cmd::Title, "Edit the title in top right", "Title"},
    {cmd::Clear, "Clear the accumulated averate rate", "Clear accumulated rate"},
    {cmd::Print, "Print with print dialog", "Print dialog"},
    {cmd::PrintImmediate, "Print immediately, no dialog", "Print immediate"},
    {cmd::Exit, "Quit the application", "Exit"},
};

} // namespace

const std::vector<MenuNode>& MenuTree() {
    static const std::vector<MenuNode> tree = {
        Submenu("&File", FileMenu()),
        Submenu("&Commands", CommandsMenu()),
        Submenu("View", {Item("Full screen\tF11", cmd::FullScreen), Item("Title ...", cmd::Title)}),
        Submenu("&Help", {Item("&Help Topics", cmd::HelpTopics), Separator(),
                          Item("&About Kestrovane...", cmd::About)}),
    };
    return tree;
}

const std::vector<int>& ToolBarLayout() {
    static const std::vector<int> layout = {cmd::Run,
                                            0,
                                            cmd::Positions,
                                            0,
                                            cmd::Autostop,
                                            0,
                                            cmd::Settings,
                                            cmd::LoadProfile,
                                            0,
                                            cmd::MagPopup,
                                            cmd::FeedPopup,
                                            0,
                                            cmd::Centre,
                                            cmd::PaperTape,
                                            cmd::ClearTape,
                                            cmd::DiscardOdd,
                                            0,
                                            cmd::Pendulum,
                                            cmd::Lever,
                                            cmd::Coaxial1,
                                            cmd::TuningFork,
                                            0,
                                            cmd::CursorDisk,
                                            cmd::Waveform,
                                            cmd::ZoomPopup,
                                            0,
                                            cmd::Hpf,
                                            0,
                                            cmd::EnableLogging,
                                            cmd::ClearLog,
                                            cmd::ShowViewer,
                                            0,
                                            cmd::Averaging,
                                            0,
                                            cmd::ContextHelp};
    return layout;
}

const std::vector<Accelerator>& AcceleratorTable() {
    static const std::vector<Accelerator> keys = {
        {QKeySequence(Qt::CTRL | Qt::Key_I), cmd::InternetCal},
        {QKeySequence(Qt::CTRL | Qt::Key_G), cmd::GpsCal},
        {QKeySequence(Qt::CTRL | Qt::Key_S), cmd::LocalCal},
        {QKeySequence(Qt::CTRL | Qt::Key_F), cmd::FinishCal},
        {QKeySequence(Qt::CTRL | Qt::Key_P), cmd::PrintImmediate},
        {QKeySequence(Qt::Key_F), cmd::Freeze},
        {QKeySequence(Qt::Key_F11), cmd::FullScreen},
        {QKeySequence(Qt::Key_Home), cmd::Zoom1},
        {QKeySequence(Qt::Key_Up), cmd::RaiseThreshold},
        {QKeySequence(Qt::Key_Down), cmd::LowerThreshold},
        {QKeySequence(Qt::Key_Return), cmd::Enter},
        {QKeySequence(Qt::Key_Enter), cmd::Enter},
        {QKeySequence(Qt::Key_F1), cmd::Help},
        {QKeySequence(Qt::Key_F6), cmd::NextPane},
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), cmd::PrevPane},
        {QKeySequence(Qt::SHIFT | Qt::Key_Up), cmd::ShiftUp},
        {QKeySequence(Qt::SHIFT | Qt::Key_Down), cmd::ShiftDown},
        {QKeySequence(Qt::CTRL | Qt::Key_C), cmd::EditCopy},
        {QKeySequence(Qt::CTRL | Qt::Key_Insert), cmd::EditCopy},
        {QKeySequence(Qt::CTRL | Qt::Key_X), cmd::EditCut},
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), cmd::EditCut},
        {QKeySequence(Qt::CTRL | Qt::Key_V), cmd::EditPaste},
        {QKeySequence(Qt::SHIFT | Qt::Key_Insert), cmd::EditPaste},
        {QKeySequence(Qt::CTRL | Qt::Key_Z), cmd::EditUndo},
        {QKeySequence(Qt::ALT | Qt::Key_Backspace), cmd::EditUndo},
    };
    return keys;
}

const std::vector<CommandText>& CommandTexts() {
    return Texts;
}

const CommandText* FindCommandText(int id) {
    auto it =
        std::find_if(Texts.begin(), Texts.end(), [id](const CommandText& t) { return t.Id == id; });
    return it == Texts.end() ? nullptr : &*it;
}

const char* CalibrationReferenceKey(int id) {
    struct ReferenceCommand {
        int Id;
        const char* Key;
    };
    static constexpr ReferenceCommand Commands[] = {{cmd::InternetCal, "Sntp"},
                                                    {cmd::GpsCal, "Gps"}};
    for (const ReferenceCommand& c : Commands)
        if (c.Id == id) return c.Key;
    return nullptr;
}

} // namespace kv
