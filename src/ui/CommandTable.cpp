#include "ui/CommandTable.h"

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
    return {Item("&Print immediate\tCtrl+P", 57608),
            Item("Prin&t ...", 57607),
            Item("Print tape ...", 32909),
            Separator(),
            Item("Choose logfile ...", 32874),
            Item("Clear log file contents", 32877),
            Item("Enable logging ?", 32878),
            Item("Annotate log ...", 32879),
            Item("Show log file viewer ?", 32876),
            Item("Viewer settings ...", 32880),
            Item("Delete section of graph ...", 32901),
            Item("Reset viewer defaults", 32948),
            Separator(),
            Item("Choose QC textfile ...", 32898),
            Separator(),
            Item("Choose waveform file ...", 32903),
            Separator(),
            Item("E&xit", 57665)};
}

std::vector<MenuNode> CommandsMenu() {
    return {
        Submenu("Train", {Item("1 pps", 32843), Item("14400", 32801), Item("18000", 32802),
                          Item("19800", 32803), Item("21600", 32804), Item("25200", 32965),
                          Item("28800", 32805), Item("36000", 32806), Item("300 Hz", 32860),
                          Item("330 Hz", 32861), Item("360 Hz", 32847)}),
        Submenu("Escapement", {Item("Lever", 32968), Item("Coaxial 1", 32969),
                               Item("Coaxial 2", 32972), Item("AP 1", 32973), Item("AP 2", 32974),
                               Item("Pendulum", 32943), Item("Tuning fork", 32975)}),
        Submenu("Rate measuring time", {Item("4 seconds", 32824), Item("8 seconds", 32821),
                                        Item("12 seconds", 32822), Item("24 seconds", 32823)}),
        Item("Load profile ...", 32895),
        Separator(),
        Item("&Run", 32771),
        Item("Average in positions ...", 32889),
        Separator(),
        Item("&Waveform ?", 32842),
        Item("Freeze waveform\tF", 32949),
        Item("Paper &tape ?", 32832),
        Item("Clear tape", 32892),
        Item("Cursor disk ?", 32872),
        Item("Autostop ?", 32866),
        Item("Auto &centring ", 32796),
        Item("Discard odd ticks ?", 32939),
        Item("Pendulum clock ?", 32943),
        Separator(),
        Submenu("Magnification", {Item("0.5", 32836), Item("1.0\tHome", 32933), Item("2.0", 32833),
                                  Item("4.0", 32834), Item("8.0", 32845), Item("0.25", 32838)}),
        Submenu("Waveform zoom", {Item("Free zoom 0.5", 32935), Item("Free zoom 1", 32784),
                                  Item("Triggered zoom 2", 32936), Item("Triggered zoom 5", 32977),
                                  Item("Triggered zoom 10", 32978)}),
        Submenu("Paper feed rate",
                {Item("10", 32963), Item("1", 32855), Item("1/10", 32858), Item("1/100", 32859)}),
        Separator(),
        Submenu("Thresholds",
                {Item("Raise unlock threshold", 32787), Item("Lower unlock threshold", 32788)}),
        Item("High-pass filter?", 32865),
        Item("Amplitude averaging ?", 32799),
        Separator(),
        Submenu("Calibration",
                {Item("Start internet cal\tCtrl+I", 32870), Item("Start GPS cal\tCtrl+G", 32952),
                 Separator(), Item("Correct system clock ?", 32959), Separator(),
                 Item("Start local standard cal\tCtrl+S", 32884),
                 Item("Finish calibration\tCtrl+F", 32885)}),
        Separator(),
        Item("Record waveform file ?", 32904),
        Item("Playback waveform file ?", 32905),
        Separator(),
        Item("Se&ttings ...", 32776)};
}

const std::vector<CommandText> Texts = {
    {32771, "Start-Stop", "Start-Stop"},
    {32776, "Settings dialog", "Settings"},
    {32784, "Waveform zoom 1", "Waveform zoom 1"},
    {32787, "Increase unlock threshold", "Raise unlock threshol"},
    {32788, "Lower unlock threshold", "Lower unlock threshold"},
    {32796, "Realign trace and waveform to datum position", "Centre the trace"},
    {32799, "Smooth amplitude and beat readings", "Reading smoothing"},
    {32801, "Train 14400 vph", "14400"},
    {32802, "Train 18000 vph", "18000"},
    {32803, "Train 19800 vph", "19800"},
    {32804, "Train 21600 vph", "21600"},
    {32805, "Train 28800 vph", "28800"},
    {32806, "Train 36000 vph", "36000"},
    {32965, "Train 25200 vph", "25200"},
    {32821, "Rate measuring time 8 seconds ", "8 secs average"},
    {32822, "Rate measuring time 12 seconds", "12 secs average"},
    {32823, "Rate measuring time 24 seconds ", " 24 secs average"},
    {32824, "Rate measuring time 4 seconds", "4 secs average"},
    {32832, "Draw instantaneous phase dots", "Paper tape"},
    {32833, "Magnification 2.0", "Mag 2.0"},
    {32834, "Magnification 4.0", "Mag 4.0"},
    {32836, "Magnification 0.5", "Mag 0.5"},
    {32838, "Magnification 0.25", "Mag 0.25"},
    {32845, "Magnification 8.0", "Mag 8.0"},
    {32933, "Magnification 1.0", "Mag 1.0"},
    {32842, "Enable tick waveform", "Waveform"},
    {32843, "1 pps 3600 vph", "3600"},
    {32847, "360 Hz tuning fork", "360 Hz"},
    {32855, "Paper feed normal speed", "Feed 1"},
    {32858, "Paper feed 1/10 speed", "Feed 1/10"},
    {32859, "Paper feed 1/100 speed", "Feed 1/100"},
    {32963, "Paper feed 10 times", "Paer feed ten"},
    {32860, "300 Hz tuning fork", "300 Hz"},
    {32861, "330 Hz tuning fork", "330 Hz"},
    {32864, "Train selector combo box; you can select or type here", "Train selector"},
    {32865, "Apply a filter to reject interference", "Audio filter"},
    {32866, "Automatically stop paper feed if no ticks for five seconds", "Auto paper stop"},
    {32868, "Rate measuring time", "Measuring time"},
    {32869, "Lift angle", "Lift angle"},
    {32870, "Start internet timed calibration run", "Start internet calibration"},
    {32872, "Show or hide the cursor disk", "Cursor disk (CTRL+Click for manual)"},
    {32873, "Select a train automatically; will try standard trains from 36000 to 3600",
     "Automatic train select"},
    {32874, "Select file name for logging", "Logfile name"},
    {32876, "Display or hide graph viewer", "Graph viewer"},
    {32877, "Clear log file contents", "Clear log"},
    {32878, "Enable or disable logging", "Logging?"},
    {32879, "Place notes on chosen graph trace and on paper tape", "Annotate"},
    {32880, "Open graph viewer settings dialog", "Viewer settings"},
    {32884, "Start local standard calibration run", "Start local calibration"},
    {32885, "End calibration run", "End calibration"},
    {32889, "Start positional averaging cycle", "Positional average"},
    {32892, "Clear the paper tape", "Clear tape"},
    {32895, "Load previously saved profile", "Load profile"},
    {32898, "Choose filename for text file of positional results", "Text file"},
    {32899, "Select tape horizontal trace magnification factor", "Trace magnification"},
    {32901, "Remove a section of the logfile graph previously marked by a left and right click",
     "Delete section"},
    {32903, "Waveform file for recording or playback", "Traing file"},
    {32904, "Record a tick waveform for later playback", "Record waveform"},
    {32905, "Playback a pre-recorded waveform", "Playback waveform"},
    {32909, "Print paper tape as strips", "Print tape"},
    {32935, "Waveform zoom 0.5", "Waveform zoom 0.5"},
    {32936, "Triggered waveform, zoom 2", "Triggered waveform, zoom 2"},
    {32937, "Choose waveform zoom", "Waveform zoom"},
    {32939, "Only use even ticks to print a dot on the tape", "Even ticks only"},
    {32943, "Pendulum clock mode; disable amplitude calculations etc", "Clock mode"},
    {32945, "Select paper tape vertical reduction", "Tape feed rate"},
    {32948, "Reset viewer settings to default values", "Viewer defaults"},
    {32949, "Freeze waveform for inspection", "Freeze waveform"},
    {32950, "Make view full screen", "Full screen"},
    {32952, "Start GPS timed calibration run", "Start GPS cal"},
    {32959, "Once stabilized, sychronize system clock to time standard",
     "Synchronize system clock"},
    {32968, "Choose lever escapement", "Lever"},
    {32969, "Choose coaxial escapement", "Coaxial"},
    {32972, "Choose coaxial with advanced amplitude", "Coaxial advanced"},
    {32973, "AP 1", "AP 1"},
    {32974, "AP 2", "AP 2"},
    {32975, "Tuning fork", "Tuning fork"},
    {32977, "Triggered waveform, zoom 5", "Triggered waveform, zoom 5"},
    {32978, "Triggered waveform, zoom 10", "Triggered waveform, zoom 10"},
    {32979, "Edit the title in top right", "Title"},
    {2178, "Clear the accumulated averate rate", "Clear accumulated rate"},
    {57607, "Print with print dialog", "Print dialog"},
    {57608, "Print immediately, no dialog", "Print immediate"},
    {57665, "Quit the application", "Exit"},
};

} // namespace

const std::vector<MenuNode>& MenuTree() {
    static const std::vector<MenuNode> tree = {
        Submenu("&File", FileMenu()),
        Submenu("&Commands", CommandsMenu()),
        Submenu("View", {Item("Full screen\tF11", 32950), Item("Title ...", 32979)}),
        Submenu("&Help",
                {Item("&Help Topics", 57667), Separator(), Item("&About Kestrovane...", 57664)}),
    };
    return tree;
}

const std::vector<int>& ToolBarLayout() {
    static const std::vector<int> layout = {
        32771, 0,     32889, 0,     32866, 0,     32776, 32895, 0,     32899, 32945, 0,
        32796, 32832, 32892, 32939, 0,     32943, 32968, 32969, 32975, 0,     32872, 32842,
        32937, 0,     32865, 0,     32878, 32877, 32876, 0,     32799, 0,     57669};
    return layout;
}

const std::vector<Accelerator>& AcceleratorTable() {
    static const std::vector<Accelerator> keys = {
        {QKeySequence(Qt::CTRL | Qt::Key_I), 32870},
        {QKeySequence(Qt::CTRL | Qt::Key_G), 32952},
        {QKeySequence(Qt::CTRL | Qt::Key_S), 32884},
        {QKeySequence(Qt::CTRL | Qt::Key_F), 32885},
        {QKeySequence(Qt::CTRL | Qt::Key_P), 57608},
        {QKeySequence(Qt::Key_F), 32949},
        {QKeySequence(Qt::Key_F11), 32950},
        {QKeySequence(Qt::Key_Home), 32784},
        {QKeySequence(Qt::Key_Up), 32787},
        {QKeySequence(Qt::Key_Down), 32788},
        {QKeySequence(Qt::Key_Return), 32867},
        {QKeySequence(Qt::Key_Enter), 32867},
        {QKeySequence(Qt::Key_F1), 57670},
        {QKeySequence(Qt::Key_F6), 57680},
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), 57681},
        {QKeySequence(Qt::SHIFT | Qt::Key_Up), 32789},
        {QKeySequence(Qt::SHIFT | Qt::Key_Down), 32790},
        {QKeySequence(Qt::CTRL | Qt::Key_C), 57634},
        {QKeySequence(Qt::CTRL | Qt::Key_Insert), 57634},
        {QKeySequence(Qt::CTRL | Qt::Key_X), 57635},
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), 57635},
        {QKeySequence(Qt::CTRL | Qt::Key_V), 57637},
        {QKeySequence(Qt::SHIFT | Qt::Key_Insert), 57637},
        {QKeySequence(Qt::CTRL | Qt::Key_Z), 57643},
        {QKeySequence(Qt::ALT | Qt::Key_Backspace), 57643},
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

} // namespace kv
