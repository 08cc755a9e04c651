// SPDX-License-Identifier: GPL-3.0-or-later
// Every command many times in random order, with measuring on and off, recording and playing
// back: nothing crashes, hangs or leaves the view in a state it cannot measure from.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPrinter>
#include <QTest>
#include <filesystem>
#include <memory>
#include <random>
#include <unistd.h>

#include "SignalSource.h"
#include "TickSynthesizer.h"
#include "platform/ClockSetter.h"
#include "ui/app/MainFrame.h"
#include "ui/common/CommandTable.h"
#include "ui/dialogs/DEndCal.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

// Commands that open a modal dialog, a pop-up menu or another program are left out.
bool Interactive(int id) {
    static const int ids[] = {
        cmd::ChooseWaveform, cmd::ChooseLog,     cmd::AnnotateLog, cmd::Title,       cmd::About,
        cmd::Settings,       cmd::LoadProfile,   cmd::MagPopup,    cmd::FeedPopup,   cmd::ZoomPopup,
        cmd::Exit,           cmd::HelpTopics,    cmd::Help,        cmd::ContextHelp, cmd::Positions,
        cmd::ChooseTextFile, cmd::ViewerSettings};
    return std::find(std::begin(ids), std::end(ids), id) != std::end(ids);
}

// No time server answers: the calibration commands run their course without the network.
class SilentReference : public CalibrationReferences {
public:
    const ReferenceRegistry& Registry() const override { return Kinds; }
    bool Read(ReferenceId, ReadingPhase, const ReferenceSettings&, const StillWanted&, double&,
              std::string& status) override {
        status = "No response from the test's server";
        return false;
    }
    // The GPS receiver's port cannot be opened; the SNTP server needs nothing opened.
    bool Open(ReferenceId id, const ReferenceSettings&, std::string& error) override {
        if (Kinds.Kind(id).Key != "Gps") return true;
        error = "No GPS here";
        return false;
    }
    void Close() override {}
    bool AnyOpen() const override { return false; }
    ReferenceRegistry Kinds = BuiltInReferences();
};

std::vector<int> AllCommands() {
    std::vector<int> ids;
    for (const CommandText& t : CommandTexts())
        if (!Interactive(t.Id)) ids.push_back(t.Id);
    for (const Accelerator& a : AcceleratorTable())
        if (!Interactive(a.Id)) ids.push_back(a.Id);
    return ids;
}

TEST(CommandStress, RandomCommandsWhileMeasuringStoppedRecordingAndPlayingBack) {
    const fs::path dir = fs::temp_directory_path() / ("kv-stress-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    test::SignalSource source;
    synth::SynthOptions o;
    o.SampleRate = 48000;
    o.Seconds = 60;
    source.Signal = synth::Synthesize(o).Samples;
    source.Speed = 4.0;
    test::CountingSink speaker;
    // The calibration commands reach neither the network nor the machine's clock.
    SilentReference reference;
    RecordingClockSetter clockSetter;
    CMainFrame frame{CMainFrame::Options{nullptr, &source, &speaker, {}},
                     CalibrationSeams{&reference, &clockSetter, {}}};
    CChildView& view = frame.View();
    QStringList messages;
    view.Hooks.MessageSink = [&](const QString& m) { messages << m; };
    view.Hooks.ConfirmHook = [](const QString&) { return true; };
    view.Hooks.QuestionHook = [](const QString&, QuestionButtons) { return Answer::No; };
    view.Hooks.EndCalibrationDialogHook = [](CDEndCal&) {}; // closed without OK: continue
    // The print commands print to a PDF file instead of asking for a printer.
    const QString printed = QString::fromStdString((dir / "printed.pdf").string());
    view.Hooks.PrinterHook = [&printed](int) {
        auto printer = std::make_unique<QPrinter>(QPrinter::ScreenResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(printed);
        return printer;
    };
    view.App().WaveFile2 = (dir / "stress.wav").string();
    view.App().LogFile2 = (dir / "stress.log").string();
    view.Core().Settings.SampleRate = 48000;
    frame.resize(1024, 700);
    frame.show();

    const std::vector<int> ids = AllCommands();
    std::mt19937 random(20261209);
    for (int step = 0; step < 3000; ++step) {
        const int id = ids[random() % ids.size()];
        QElapsedTimer clock;
        clock.start();
        frame.RouteCommand(id);
        // A command that waits seconds has found the capture or output worker stuck.
        EXPECT_LT(clock.elapsed(), 2000) << "command " << id << " at step " << step;
        if (step % 25 == 0)
            QTest::qWait(20); // let buffers, timers and repaints run
        else
            QCoreApplication::processEvents();
    }
    // Whatever state the commands left, the view still measures.
    if (view.Session().IsRunning()) view.Session().Run();
    if (view.Session().WaveformState().Playing()) view.Session().TogglePlayback();
    QTest::qWait(50);
    if (view.Session().IsRunning()) view.Session().Run();
    view.Session().Run();
    EXPECT_TRUE(view.Session().IsRunning());
    view.Session().Run();
    EXPECT_FALSE(view.Session().IsRunning());
    frame.close();
    fs::remove_all(dir);
}

} // namespace
} // namespace kv
