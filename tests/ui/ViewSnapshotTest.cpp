// SPDX-License-Identifier: GPL-3.0-or-later
// The repaint draws one picture from one analysis state, and the unlock and drop markers come from
// the analysis' tick events, not from values hidden in the trace's sound.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <atomic>
#include <thread>

#include "../analysis/CoreHarness.h"
#include "TickSynthesizer.h"
#include "ui/view/ViewRenderer.h"

namespace kv {
namespace {

constexpr int W = 960, H = 720, Cy = H / 2;
const QColor Red(255, 0, 0);

// The measuring view's picture with the paper tape off, so the waveform's markers stand alone.
QImage RenderWithoutTape(ViewRenderer& renderer, AnalysisCore& core) {
    CalibrationState calibration{core.LocalStandardRun};
    AppSettings settings;
    settings.PaperTape = 0;
    ViewDisplayState state;
    QImage image;
    renderer.Render(image, QSize(W, H), core, calibration, settings, state);
    return image;
}

// Another thread changes the analysis while the view repaints, each change setting several values
// the picture shows to one number under the analysis lock. A repaint that read them in separate
// holds of the lock would mix two changes.
TEST(ViewSnapshot, EveryValueOfOnePictureComesFromOneAnalysisState) {
    test::CoreHarness h;
    CalibrationState calibration{h.Core.LocalStandardRun};
    h.Core.Settings.Centre = 0;
    h.Start(48000, "18000 vph");
    AppSettings settings;
    settings.PaperTape = 1;
    ViewDisplayState state;
    ViewRenderer renderer;
    QImage image;

    auto setAll = [&h](int v) {
        const auto lock = h.Core.HoldAnalysis();
        h.Core.Detector.SignalToNoise = v;
        h.Core.Measurement.BeatError = v;
        h.Core.Measurement.Deviation = v;
        h.Core.Measurement.Amplitude = v;
        h.Core.Measurement.AmplitudeTrusted = true;
        h.Core.Detector.TickOffset = v;
        std::fill(h.Core.Trace.Points.begin(), h.Core.Trace.Points.end(), static_cast<int16_t>(v));
    };
    setAll(0);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int k = 1; !stop.load(); ++k)
            setAll(k % 30000);
    });
    constexpr int Repaints = 300;
    int mixed = 0;
    for (int r = 0; r < Repaints; ++r) {
        renderer.Render(image, QSize(W, H), h.Core, calibration, settings, state);
        const ViewSnapshot& s = renderer.Snapshot();
        ASSERT_FALSE(s.Trace.empty());
        const double v = s.SignalToNoise;
        const bool same = s.BeatError == v && s.Deviation == v && s.Amplitude == v &&
                          s.TickOffset == v && s.Trace.front() == v && s.Trace.back() == v;
        mixed += !same;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(mixed, 0) << "pictures mixing two analysis states";
}

// Markers placed by ProcessBuffer from a real watch's sound: the trace keeps only sound (no
// full-scale spikes standing for markers), and every marker is drawn in red at its column.
TEST(ViewSnapshot, MarkersOfAMeasuredWatchAreDrawnFromTheTickEvents) {
    test::CoreHarness h;
    h.Core.Settings.Centre = 0;
    h.Start(48000, "18000 vph");
    synth::SynthOptions o;
    o.SampleRate = 48000;
    o.Seconds = 6;
    o.BeatErrorMs = 0.4;
    h.Feed(synth::Synthesize(o).Samples);

    ViewRenderer renderer;
    const QImage image = RenderWithoutTape(renderer, h.Core);

    for (int16_t v : h.Core.Trace.Points)
        ASSERT_TRUE(v > NegativeFullScale && v < FullScale) << "a marker written into the sound";
    const ViewSnapshot& s = renderer.Snapshot();
    ASSERT_FALSE(s.Markers.empty()) << "the analysis reported no tick on the trace";
    const int points = static_cast<int>(s.Trace.size());
    for (const TraceMarker& m : s.Markers) {
        // 1920 points over 960 columns, the trace's middle at the centre: point i in column i/2.
        ASSERT_EQ(points, 2 * W);
        const int x = m.Point / 2;
        const int reach = m.Kind == TraceMarkerKind::Drop ? 20 : 12;
        EXPECT_EQ(image.pixelColor(x, Cy - reach), Red) << "marker at point " << m.Point;
    }
}

// Table: markers at known points; each appears at its column, at its kind's height.
TEST(ViewSnapshot, MarkerEventsAppearAtTheirColumns) {
    struct Case {
        int Point;
        TraceMarkerKind Kind;
        int Reach; // pixels above the centre the marker reaches (small or large line)
    };
    const Case cases[] = {{40, TraceMarkerKind::Unlock, 12},
                          {1000, TraceMarkerKind::Unlock, 12},
                          {1500, TraceMarkerKind::Drop, 20},
                          {1918, TraceMarkerKind::Drop, 20}};
    for (const Case& c : cases) {
        test::CoreHarness h;
        h.Core.Settings.Centre = 0;
        h.Start(48000, "18000 vph");
        ASSERT_EQ(h.Core.Trace.Length, 2 * W);
        h.Core.Trace.Markers.Clear();
        h.Core.Trace.Markers.Add(c.Point, c.Kind);
        ViewRenderer renderer;
        const QImage image = RenderWithoutTape(renderer, h.Core);
        const int x = c.Point / 2;
        EXPECT_EQ(image.pixelColor(x, Cy - c.Reach), Red) << "point " << c.Point;
        EXPECT_NE(image.pixelColor(x, Cy - 30), Red) << "point " << c.Point;
        EXPECT_NE(image.pixelColor((x + W / 3) % W, Cy - c.Reach), Red) << "point " << c.Point;
    }
}

} // namespace
} // namespace kv
