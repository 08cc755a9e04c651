// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logview/GraphExport.h"

#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <charconv>
#include <filesystem>
#include <fstream>

#include "logview/model/GraphCsv.h"
#include "logview/model/GraphModel.h"
#include "logview/model/GraphSettings.h"
#include "settings/SettingsPaths.h"
#include "settings/SettingsStore.h"
#include "ui/logview/GraphRenderer.h"

namespace kv {

const char* const GraphCommandUsage =
    "usage: kestrovane-graph [--settings INI] [--width W --height H] [--from SECONDS --to "
    "SECONDS]\n"
    "                        [--spectrum TRACE] (--png OUT.png | --pdf OUT.pdf | --csv OUT.csv) "
    "LOGFILE\n"
    "  --from, --to: the shown window in seconds since the first record of the file;\n"
    "                --from may not be greater than --to\n"
    "  --spectrum:   trace 1 ... 8; the graph shows its spectrum, the CSV lists it\n"
    "  --csv:        one row per shown record, its time in seconds since the first record\n"
    "                of the file whatever the window, then the eight trace values\n";

namespace {

constexpr int kMaxImageSide = 16384;     // pixels; keeps the image within memory reason
constexpr double kPointsPerPixel = 0.75; // a 96 dpi pixel in PDF points
constexpr int kExitDone = 0;
constexpr int kExitOutputFailed = 1;
constexpr int kExitBadInput = 2;

bool ParseNumber(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

bool ParseInt(const std::string& text, int low, int high, int& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= low && value <= high;
}

// Applies one option with its value; false with `error` set.
bool ApplyOption(const std::string& name, const std::string& value, GraphCommandOptions& o,
                 int& outputs, std::string& error) {
    double number = 0;
    const auto output = [&](GraphOutput kind) {
        o.Output = kind;
        o.OutputPath = value;
        ++outputs;
        return true;
    };
    if (name == "--settings")
        o.SettingsPath = value;
    else if (name == "--width" && ParseInt(value, 1, kMaxImageSide, o.Width)) {
    } else if (name == "--height" && ParseInt(value, 1, kMaxImageSide, o.Height)) {
    } else if (name == "--from" && ParseNumber(value, number))
        o.From = number;
    else if (name == "--to" && ParseNumber(value, number))
        o.To = number;
    else if (name == "--spectrum" && ParseInt(value, 1, TraceCount, o.SpectrumTrace)) {
    } else if (name == "--png")
        return output(GraphOutput::Png);
    else if (name == "--pdf")
        return output(GraphOutput::Pdf);
    else if (name == "--csv")
        return output(GraphOutput::Csv);
    else {
        error = "bad option or value: " + name + " " + value;
        return false;
    }
    return true;
}

bool LoadSettings(const std::string& path, GraphSettings& settings, std::string& error) {
    SettingsStore store(path.empty() ? ConfigFilePath() : path);
    if (!path.empty() && !std::filesystem::is_regular_file(path)) {
        error = path + ": no such settings file";
        return false;
    }
    if (!store.Load()) {
        error = store.Path() + ": the settings cannot be read";
        return false;
    }
    LoadGraphSettings(store, settings);
    return true;
}

// Reads the log once to learn its first record, then sets the window as the viewer would have
// it: the asked seconds, or the newest Span minutes.
bool OpenLog(const GraphCommandOptions& o, const GraphSettings& settings, GraphModel& model,
             std::string& error) {
    model.SpectrumTrace = o.SpectrumTrace - 1;
    const GraphLoadStatus status = model.LoadGraphData(o.LogPath, settings);
    if (status != GraphLoadStatus::Loaded) {
        error = GraphLoadMessage(status, o.LogPath);
        return false;
    }
    if (model.Window.FirstRecordTime == 0 && model.Records.empty()) {
        error = o.LogPath + " holds no log records.";
        return false;
    }
    const double first = static_cast<double>(model.Window.FirstRecordTime);
    if (o.From || o.To) {
        model.Window.LeftMark = o.From ? static_cast<int64_t>(first + *o.From) : 0;
        model.Window.RightMark = o.To ? static_cast<int64_t>(first + *o.To) : EndOfTime;
        model.Window.SectionMarked = true;
    } else {
        model.ApplySpan(settings.Span);
    }
    return true;
}

bool WritePdf(const QImage& image, const std::string& path) {
    QPdfWriter pdf(QString::fromStdString(path));
    const QSizeF points(image.width() * kPointsPerPixel, image.height() * kPointsPerPixel);
    pdf.setPageSize(QPageSize(points, QPageSize::Point));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    if (!painter.begin(&pdf)) return false;
    painter.drawImage(QRect(0, 0, pdf.width(), pdf.height()), image);
    return painter.end();
}

bool WriteCsv(const GraphCommandOptions& o, GraphModel& model, const GraphSettings& settings) {
    model.LoadGraphData(o.LogPath, settings);
    std::ofstream out(o.OutputPath, std::ios::binary);
    if (o.SpectrumTrace > 0)
        WriteSpectrumCsv(out, model);
    else
        WriteTraceCsv(out, model, settings);
    out.flush();
    return static_cast<bool>(out);
}

bool WriteGraph(const GraphCommandOptions& o, GraphModel& model, const GraphSettings& settings) {
    if (o.Output == GraphOutput::Csv) return WriteCsv(o, model, settings);
    QImage image(o.Width, o.Height, QImage::Format_RGB32);
    GraphRenderer renderer;
    renderer.Render(image, model, settings, o.LogPath);
    if (o.Output == GraphOutput::Pdf) return WritePdf(image, o.OutputPath);
    return image.save(QString::fromStdString(o.OutputPath), "PNG");
}

} // namespace

std::optional<GraphCommandOptions> ParseGraphArguments(const std::vector<std::string>& args,
                                                       std::string& error) {
    GraphCommandOptions o;
    int outputs = 0;
    size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; i += 2) {
        if (i + 1 >= args.size()) {
            error = "missing value for " + args[i];
            return std::nullopt;
        }
        if (!ApplyOption(args[i], args[i + 1], o, outputs, error)) return std::nullopt;
    }
    if (outputs != 1)
        error = "give exactly one of --png, --pdf and --csv";
    else if (o.From && o.To && *o.From > *o.To)
        error = "--from is greater than --to";
    else if (i + 1 != args.size())
        error = "give one log file after the options";
    if (!error.empty()) return std::nullopt;
    o.LogPath = args[i];
    return o;
}

int RunGraphCommand(const GraphCommandOptions& options, std::ostream& err) {
    GraphSettings settings = GraphSettings::Defaults();
    GraphModel model;
    std::string error;
    if (!LoadSettings(options.SettingsPath, settings, error) ||
        !OpenLog(options, settings, model, error)) {
        err << "kestrovane-graph: " << error << "\n";
        return kExitBadInput;
    }
    if (!WriteGraph(options, model, settings)) {
        err << "kestrovane-graph: " << options.OutputPath << " cannot be written\n";
        return kExitOutputFailed;
    }
    return kExitDone;
}

} // namespace kv
