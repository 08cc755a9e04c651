// SPDX-License-Identifier: GPL-3.0-or-later
// One print job of the measuring window's print commands: the printer from the print dialog, the
// default printer or a test's seam, one page drawn between the start and the end of the
// document, the main window disabled meanwhile. Keeps no state between jobs. User-interface
// thread only.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>

class QPainter;
class QPrinter;
class QWidget;

namespace kv {

inline constexpr const char* UnableToPrintText = "Unable to start printing";

struct PrintContext {
    // Disabled for the duration of the job; its title names the document. May be null.
    QWidget* MainWindow = nullptr;
    // Supplies the printer instead of the print dialog or the default printer; a null printer
    // counts as a cancelled dialog. Empty: the real dialog or default printer.
    std::function<std::unique_ptr<QPrinter>(int commandId)> PrinterHook;
    // Shows the failure message; empty: an information box.
    std::function<void(const QString& text)> Tell;
};

// Draws the page of size `page` (the printer's printable area in device pixels).
using PageDrawer = std::function<void(QPainter& painter, QSize page)>;

// Runs print command `commandId` as one single-page job: the default printer without a dialog
// for "Print immediate", the print dialog otherwise. A cancelled dialog prints nothing; no
// default printer or a document that cannot be started gives "Unable to start printing".
// True when the page was printed.
bool RunPrintJob(const PrintContext& context, int commandId, const PageDrawer& draw);

// The size of `picture` scaled onto `page` keeping its aspect ratio, as large as fits: the
// page's width on a portrait page, its height on a landscape one for a window's picture, and
// never beyond the page in the other direction.
QSize ScaledPictureSize(QSize page, QSize picture);

// Draws `picture` scaled that way at the page's top left; nothing for a null picture.
void DrawScaledPicture(QPainter& painter, QSize page, const QImage& picture);

// A page drawer that prints `picture` (copied now) scaled onto the page.
PageDrawer PicturePage(const QImage& picture);

} // namespace kv
