// SPDX-License-Identifier: GPL-3.0-or-later
// The log viewer's texts: dates in the user's locale (ISO 8601 in the C locale), and no two
// labels overlapping at any picture size: those that would are left out, the scale values at the
// corner of the axes before the time grid's labels.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QImage>
#include <QLocale>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "logview/model/GraphModel.h"
#include "logview/model/GraphSettings.h"
#include "ui/logview/GraphCanvas.h"
#include "ui/logview/GraphDates.h"
#include "ui/logview/GraphLayout.h"
#include "ui/logview/GraphRenderer.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kStart = 1717236000; // 2024-06-01 10:00 UTC

TEST(GraphDates, FollowTheLocaleWithIsoDatesInTheCLocale) {
    const QDate date(2024, 6, 2);
    const QDateTime time(date, QTime(10, 0, 5));
    struct Row {
        QLocale Locale;
        QString Date;
    };
    const Row table[] = {
        {QLocale::c(), "2024-06-02"},     {QLocale("C"), "2024-06-02"},
        {QLocale("POSIX"), "2024-06-02"}, {QLocale("de_DE"), "02.06.24"},
        {QLocale("en_US"), "6/2/24"},     {QLocale("en_GB"), "02/06/2024"},
    };
    for (const Row& row : table) {
        EXPECT_EQ(GraphDateText(date, row.Locale), row.Date) << row.Locale.name().toStdString();
        EXPECT_EQ(GraphDateTimeText(time, row.Locale), "10:00:05 " + row.Date)
            << row.Locale.name().toStdString();
    }
    // German order: day, month, year.
    const QString german = GraphDateText(QDate(2024, 11, 3), QLocale("de_DE"));
    EXPECT_LT(german.indexOf("03"), german.indexOf("11")) << german.toStdString();
    EXPECT_EQ(GraphDateFormat(QLocale::c()), "yyyy-MM-dd");
}

class GraphLabels : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::temp_directory_path() /
              ("kv-graphlabels-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(Dir);
        Log = (Dir / "watch.log").string();
        WriteTwoDays();
    }
    void TearDown() override { fs::remove_all(Dir); }

    // Two days of a watch at one record a minute, as scripts/graph-sample.sh writes them: rate,
    // amplitude, deviation, temperature, average rate and beat error, one winding tag.
    void WriteTwoDays() {
        std::ofstream out(Log, std::ios::binary);
        double deviation = 0, sum = 0;
        for (int i = 0; i <= 48 * 60; ++i) {
            const double h = i / 60.0;
            const double temperature = 22 + 3 * std::sin(2 * M_PI * (h - 9) / 24);
            const double wound = h >= 24 ? h - 24 : h + 6;
            const double rate =
                3 + 0.4 * (temperature - 22) + 0.02 * wound + 0.15 * std::sin(i / 7.0);
            const double amplitude = 285 - 1.6 * wound + 1.5 * std::sin(i / 11.0);
            deviation += rate / 1440;
            sum += rate;
            const double beat = 0.0003 + 0.00002 * std::sin(i / 90.0);
            char line[256];
            std::snprintf(line, sizeof line, "%lld\t%.3f\t%.1f\t%.4f\t%.2f\t%.3f\t%.8f",
                          static_cast<long long>(kStart + 60 * i), rate, amplitude, deviation,
                          temperature, sum / (i + 1), beat);
            out << line;
            if (i == 24 * 60) out << "\t<TGG1>wound</TAG>";
            out << "\r\n";
        }
    }

    // Renders the whole file at `size` with the viewer's defaults in `locale`, the texts grown by
    // `textScale`.
    const std::vector<GraphLabel>& Render(QSize size, const QLocale& locale = QLocale::c(),
                                          double textScale = 1.0) {
        Image = QImage(size, QImage::Format_RGB32);
        GraphSettings settings = GraphSettings::Defaults();
        settings.Span = 0; // the whole file
        Model = GraphModel();
        Renderer.SetLocale(locale);
        Renderer.SetTextScale(textScale);
        EXPECT_EQ(Renderer.Render(Image, Model, settings, Log), GraphLoadStatus::Loaded);
        return Renderer.Labels();
    }

    fs::path Dir;
    std::string Log;
    QImage Image;
    GraphModel Model;
    GraphRenderer Renderer;
};

TEST_F(GraphLabels, NoTwoLabelsOverlapAtAnySize) {
    const QSize sizes[] = {{1280, 720}, {1920, 1080}, {800, 600},  {640, 360},
                           {320, 240},  {480, 900},   {2400, 400}, {3840, 2160}};
    for (const QSize size : sizes) {
        const std::vector<GraphLabel>& labels = Render(size);
        const std::string at = std::to_string(size.width()) + "x" + std::to_string(size.height());
        ASSERT_FALSE(labels.empty()) << at;
        for (size_t i = 0; i < labels.size(); ++i) {
            EXPECT_FALSE(labels[i].Rect.isEmpty()) << at << " " << labels[i].Text;
            for (size_t j = i + 1; j < labels.size(); ++j)
                EXPECT_FALSE(labels[i].Rect.intersects(labels[j].Rect))
                    << at << ": \"" << labels[i].Text << "\" and \"" << labels[j].Text << "\"";
        }
        // Each label's ink is where the picture has it: not all background.
        for (const GraphLabel& label : labels) {
            const QRect inside = label.Rect.intersected(Image.rect());
            bool inked = false;
            for (int y = inside.top(); y <= inside.bottom() && !inked; ++y)
                for (int x = inside.left(); x <= inside.right() && !inked; ++x)
                    inked = QColor(Image.pixel(x, y)).lightness() < 200;
            EXPECT_TRUE(inked) << at << " " << label.Text;
        }
    }
}

// The README's picture: every scale value stays, the time labels give way at the corner where
// the axes meet, and the dates are ISO 8601 in the C locale.
TEST_F(GraphLabels, TheScaleValuesKeepTheCornerAndTimeLabelsGiveWay) {
    const std::vector<GraphLabel>& labels = Render({1280, 720});
    const std::string startText =
        "start " +
        GraphDateTimeText(QDateTime::fromSecsSinceEpoch(kStart), QLocale::c()).toStdString();
    EXPECT_NE(startText.find("2024-06-01"), std::string::npos) << startText;
    int scaleValues = 0, timeLabels = 0, dated = 0;
    bool start = false, title = false;
    for (const GraphLabel& label : labels) {
        const std::string& t = label.Text;
        if (t.size() == 5 && t[2] == ':') ++timeLabels; // "14:00"
        if (t.size() > 5 && t[2] == ':' && t.find("2024-06-0") != std::string::npos) ++dated;
        start = start || t == startText;
        title = title || t.find("Long term performance") != std::string::npos;
        scaleValues += !t.empty() &&
                       (std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-') &&
                       t.find_first_of(": ") == std::string::npos; // not a time, not the span
    }
    EXPECT_TRUE(start);
    EXPECT_TRUE(title);
    EXPECT_GE(dated, 2) << "the midnights of both days carry their dates";
    EXPECT_GE(timeLabels, 6);
    // Five traces, each with its top, bottom and range value, and the zero of none.
    EXPECT_EQ(scaleValues, 15);
    // The lowest strip's bottom value sits in the corner of the axes; the first time grid line
    // (two hours after the start) is left unlabelled for it, the next one is labelled.
    const auto at = [](double hours) {
        return LogicalToDevice(QSize(1280, 720), PlotLeft + hours / 48 * PlotWidth, PlotBottom).x();
    };
    bool corner = false;
    int leftmostTime = 1280;
    for (const GraphLabel& label : labels) {
        corner = corner || (label.Text == "1.600m" && label.Rect.left() < at(2));
        if (label.Text.size() >= 5 && label.Text[2] == ':' && label.Rect.bottom() > 600)
            leftmostTime = std::min(leftmostTime, label.Rect.left());
    }
    EXPECT_TRUE(corner);
    EXPECT_GT(leftmostTime, at(2) + 2) << "the first time label would overlap the corner's value";
    EXPECT_LT(leftmostTime, at(6) + 10) << "the second one is shown";
}

// At the usual sizes nothing of the scales gives way: the title and the clock stand above the
// plot, clear of the top strip's values and labels, and every strip edge has both its values.
TEST_F(GraphLabels, EveryScaleTextIsShownAtTheUsualSizes) {
    const QSize sizes[] = {{1280, 720}, {1280, 800}, {1920, 1080}, {1024, 768}, {800, 600}};
    for (const QSize size : sizes) {
        int values = 0, traceLabels = 0;
        bool title = false, clock = false;
        for (const GraphLabel& label : Render(size)) {
            const std::string& t = label.Text;
            values += !t.empty() &&
                      (std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-') &&
                      t.find_first_of(": ") == std::string::npos;
            traceLabels += t.find(" (") != std::string::npos;
            title = title || t.find("Long term performance") != std::string::npos;
            clock = clock ||
                    (label.Rect.top() < size.height() / 10 && t.find(':') != std::string::npos);
        }
        const std::string at = std::to_string(size.width()) + "x" + std::to_string(size.height());
        EXPECT_EQ(values, 15) << at;
        EXPECT_EQ(traceLabels, 5) << at;
        EXPECT_TRUE(title) << at;
        EXPECT_TRUE(clock) << at;
    }
}

// On a HiDPI screen or with a larger desktop font the texts grow with the text scale, and the
// margins with them: the title, the clock, the footer and the scale ranges stay on the picture
// and off the plot, and still no label overlaps another or is left out. Catches texts that stay
// at their scale-1 size on a 2x screen, and grown texts cut off at the picture's edges or
// written over the traces because the margins kept their scale-1 size.
TEST_F(GraphLabels, TextsGrowWithTheTextScaleAndStayOffThePlot) {
    const double scales[] = {1.0, 1.5, 2.0};
    const QSize sizes[] = {{1280, 800}, {1920, 1080}, {1024, 768}};
    for (const QSize size : sizes) {
        int startHeight = 0; // at scale 1
        for (const double scale : scales) {
            const std::string at = std::to_string(size.width()) + "x" +
                                   std::to_string(size.height()) + " at " + std::to_string(scale);
            const std::vector<GraphLabel>& labels = Render(size, QLocale::c(), scale);
            const GraphFrame frame(size, scale);
            const QRect plot = QRect(frame.Map(PlotLeft, PlotTop), frame.Map(PlotRight, PlotBottom))
                                   .adjusted(1, 1, -1, -1); // inside the axes
            int values = 0, start = 0;
            bool title = false;
            for (size_t i = 0; i < labels.size(); ++i) {
                const GraphLabel& label = labels[i];
                const std::string& t = label.Text;
                EXPECT_TRUE(Image.rect().contains(label.Rect)) << at << ": " << t;
                // A text of the margins has none of its ink on the plot.
                if (!plot.contains(label.Rect.center())) {
                    EXPECT_FALSE(plot.intersects(label.Rect)) << at << ": " << t;
                }
                for (size_t j = i + 1; j < labels.size(); ++j)
                    EXPECT_FALSE(label.Rect.intersects(labels[j].Rect))
                        << at << ": \"" << t << "\" and \"" << labels[j].Text << "\"";
                values += !t.empty() &&
                          (std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-') &&
                          t.find_first_of(": ") == std::string::npos;
                if (t.rfind("start ", 0) == 0) start = label.Rect.height();
                title = title || t.find("Long term performance") != std::string::npos;
            }
            EXPECT_EQ(values, 15) << at;
            EXPECT_TRUE(title) << at;
            ASSERT_GT(start, 0) << at;
            if (scale == 1.0) startHeight = start;
            // The ink of "start …" grows as the fonts do, within their rounding to pixels.
            EXPECT_NEAR(static_cast<double>(start) / startHeight, scale, 0.15 * scale) << at;
        }
    }
}

// A narrow picture keeps fewer time labels than grid lines rather than overprint them.
TEST_F(GraphLabels, CrowdedTimeLabelsAreThinnedOut) {
    const auto count = [](const std::vector<GraphLabel>& labels) {
        int n = 0;
        for (const GraphLabel& label : labels)
            n += label.Text.size() >= 5 && label.Text[2] == ':';
        return n;
    };
    const int wide = count(Render({1920, 1080}));
    const int narrow = count(Render({300, 1080}));
    EXPECT_GT(wide, narrow);
    EXPECT_GT(narrow, 0);
}

TEST_F(GraphLabels, DatesFollowTheRenderersLocale) {
    const QLocale locale("de_DE");
    const std::string startText =
        "start " + GraphDateTimeText(QDateTime::fromSecsSinceEpoch(kStart), locale).toStdString();
    EXPECT_NE(startText.find(".06.24"), std::string::npos) << startText;
    bool german = false;
    for (const GraphLabel& label : Render({1280, 720}, locale))
        german = german || label.Text == startText;
    EXPECT_TRUE(german);
}

} // namespace
} // namespace kv
