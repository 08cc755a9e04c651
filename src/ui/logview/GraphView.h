// SPDX-License-Identifier: GPL-3.0-or-later
// The "Long term performance" window: shows the log file through GraphRenderer and follows it on
// refresh ticks and written records, reads out the time and value under the mouse, lets the user
// choose the shown time window with clicks, pan it, pick a trace's spectrum with Shift or Ctrl,
// drop the caption with F11 and cut the shown section out of the log. User-interface thread only.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "logview/model/GraphModel.h"
#include "logview/model/GraphSettings.h"
#include "ui/common/WindowPlacement.h"
#include "ui/logview/GraphFrame.h"
#include "ui/logview/GraphRenderer.h"

namespace kv {

class CPostDia;
struct PrintContext;
class LogWriter;
class SettingsStore;

inline constexpr const char* ViewerCaption = "Log file viewer";
inline constexpr const char* ViewerPlacementKey = "GraphPos"; // in section "Initial"

class CGraphView : public QWidget {
    Q_OBJECT
public:
    struct Setup {
        std::string LogPath;                         // the viewer's own copy of the log file name
        SettingsStore* Store = nullptr;              // graph settings and placement; may be null
        LogWriter* Writer = nullptr;                 // holds off the writer while a section is cut
        std::function<bool(const QString&)> Confirm; // OK/Cancel question; true for OK
        std::function<void(const QString&)> Tell;    // a message for the user
        std::function<void(CPostDia&)> DriveDialog;  // runs the settings dialog instead of exec
    };

    // A top-level window owned by `owner` (its window), first covering `initial` (screen
    // coordinates), then the stored placement unless that is missing, minimised or maximised.
    CGraphView(Setup setup, QWidget* owner, const QRect& initial);
    ~CGraphView() override;

    // Re-reads the log and redraws at the next paint.
    void MarkStale();
    // Asks, then cuts the shown records out of the log; true when the file was changed.
    bool DeleteSection();
    // "Viewer settings ...": the Trace presentation dialog, with the refresh timer stopped.
    void RunSettingsDialog();
    // The defaults reset of the settings; saved at once, then redrawn.
    void ResetDefaults();
    // Applies changed settings: restarts the refresh timer and redraws.
    void SettingsChanged();
    // Prints the graph, scaled onto the page keeping its aspect ratio, for the measuring
    // window's print command `commandId`; a stale image is rendered first.
    void PrintGraph(const PrintContext& context, int commandId);

    const GraphWindow& Window() const { return Model.Window; }
    bool SectionMarked() const { return Model.Window.SectionMarked; }
    int SpectrumTrace() const { return Spectrum; }
    int64_t CursorTime() const { return Cursor; }
    const QString& Readout() const { return ReadoutText; } // empty when nothing is read out
    const QImage& Picture() const { return Image; }
    // Where the picture lies on the window at its size and text scale: maps the mouse.
    GraphFrame Frame() const;
    int RenderCount() const { return Renders; }
    GraphSettings& Settings() { return Graph; }
    TraceResults& Results() { return Model.Results; }
    WindowPlacement CurrentPlacement() const;
    bool CaptionHidden() const { return NoCaption; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ApplyStoredPlacement();
    void StartRefreshTimer();
    void SaveSettings();
    void SavePlacement(); // "GraphPos"
    void ResetGraphImage();
    void RenderGraph();
    // Draws nothing itself: keeps the line that paint draws over the image, returns the time.
    int64_t UpdateReadout(QPointF point, Qt::KeyboardModifiers modifiers);
    void ReadOutTraces(QPointF logical, Qt::KeyboardModifiers modifiers, QString& text);
    QString FrequencyText(double x, const TraceSettings& trace) const;
    // A fresh read-out where the mouse is, as after moving it in place.
    void RefreshReadout(Qt::KeyboardModifiers modifiers);
    void TrackMouse(const QMouseEvent& event);
    void SetMark(bool left, Qt::KeyboardModifiers modifiers);
    void Pan(bool forward);
    void ToggleCaption();

    Setup Context;
    GraphSettings Graph = GraphSettings::Defaults();
    GraphModel Model;
    GraphRenderer Renderer;
    QImage Image;
    bool ImageStale = true;
    int Renders = 0;
    int Spectrum = -1;
    int64_t Cursor = 0;
    QString ReadoutText;
    bool MouseInside = false;
    QPointF MousePos;
    Qt::KeyboardModifiers HeldModifiers; // as of the latest mouse or key event
    bool NoCaption = false;
    QTimer RefreshTimer;
    QTimer ResizeTimer;
};

} // namespace kv
