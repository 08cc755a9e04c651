// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/print/PrintJob.h"

#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QWidget>

#include "ui/common/CommandTable.h"

namespace kv {

namespace {

constexpr int OnlyPage = 1; // every job prints pages 1 to 1

void Tell(const PrintContext& context, const QString& text) {
    if (context.Tell) {
        context.Tell(text);
        return;
    }
    QMessageBox::information(context.MainWindow, QStringLiteral("Kestrovane"), text);
}

std::unique_ptr<QPrinter> DefaultPrinter(const PrintContext& context) {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        Tell(context, QString::fromLatin1(UnableToPrintText));
        return nullptr;
    }
    return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
}

std::unique_ptr<QPrinter> DialogPrinter(const PrintContext& context) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), context.MainWindow);
    dialog.setMinMax(OnlyPage, OnlyPage);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    if (dialog.exec() != QDialog::Accepted) return nullptr;
    return printer;
}

std::unique_ptr<QPrinter> ObtainPrinter(const PrintContext& context, int commandId) {
    if (context.PrinterHook) return context.PrinterHook(commandId);
    return commandId == cmd::PrintImmediate ? DefaultPrinter(context) : DialogPrinter(context);
}

// Keeps the main window disabled while it lives.
class DisabledWindow {
public:
    explicit DisabledWindow(QWidget* window) : Window(window) {
        if (Window) Window->setEnabled(false);
    }
    ~DisabledWindow() {
        if (Window) Window->setEnabled(true);
    }
    DisabledWindow(const DisabledWindow&) = delete;
    DisabledWindow& operator=(const DisabledWindow&) = delete;

private:
    QWidget* Window;
};

} // namespace

bool RunPrintJob(const PrintContext& context, int commandId, const PageDrawer& draw) {
    std::unique_ptr<QPrinter> printer = ObtainPrinter(context, commandId);
    if (!printer) return false;
    printer->setFromTo(OnlyPage, OnlyPage);
    if (context.MainWindow) printer->setDocName(context.MainWindow->windowTitle());
    QPainter painter;
    {
        const DisabledWindow disabled(context.MainWindow);
        if (painter.begin(printer.get())) {
            draw(painter, QSize(printer->width(), printer->height()));
            painter.end();
            return true;
        }
    }
    Tell(context, QString::fromLatin1(UnableToPrintText));
    return false;
}

QSize ScaledPictureSize(QSize page, QSize picture) {
    if (picture.isEmpty() || page.isEmpty()) return {};
    const long long hp = page.width(), vp = page.height();
    const long long bw = picture.width(), bh = picture.height();
    // The smaller of the two scales: the page's width when the picture is relatively wider than
    // the page (a window on a portrait sheet), else its height (a window on a landscape sheet).
    const bool byWidth = hp * bh <= vp * bw;
    if (byWidth) return QSize(static_cast<int>(hp), static_cast<int>(hp * bh / bw));
    return QSize(static_cast<int>(vp * bw / bh), static_cast<int>(vp));
}

void DrawScaledPicture(QPainter& painter, QSize page, const QImage& picture) {
    const QSize size = ScaledPictureSize(page, picture.size());
    if (size.isEmpty()) return;
    painter.drawImage(QRect(QPoint(0, 0), size), picture);
}

PageDrawer PicturePage(const QImage& picture) {
    return [picture](QPainter& painter, QSize page) { DrawScaledPicture(painter, page, picture); };
}

} // namespace kv
