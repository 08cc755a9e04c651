// SPDX-License-Identifier: GPL-3.0-or-later
// The window at a screen scale factor: CTest runs these with QT_SCALE_FACTOR 1.5 and 2 (they are
// left out of the plain run, whose scale is 1). Sizes are given in the screen's own pixels and
// turned into logical pixels here, as a desktop does.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>
#include <algorithm>

#include "FreshHomeFrame.h"
#include "PumpEvents.h"
#include "logview/model/GraphSettings.h"
#include "ui/app/ToolBarIcons.h"
#include "ui/bars/SettingsBar.h"
#include "ui/dialogs/AnnotatePos.h"
#include "ui/dialogs/DEndCal.h"
#include "ui/dialogs/SmallDialogs.h"
#include "ui/dialogs/TrainDia.h"
#include "ui/help/HelpWindow.h"
#include "ui/logview/PostDia.h"

namespace kv {
namespace {

// A common laptop screen and a common window width, in the screen's pixels.
constexpr int LaptopWidth = 1366, LaptopHeight = 768;
constexpr int WindowWidth = 1280, WindowHeight = 800;

double Scale() {
    return qApp->devicePixelRatio();
}

QSize Logical(int width, int height) {
    return QSize(static_cast<int>(width / Scale()), static_cast<int>(height / Scale()));
}

// Whether `widget` is shown and lies wholly inside `area`'s rectangle.
::testing::AssertionResult ShownInside(const QWidget* widget, const QWidget* area) {
    if (!widget->isVisible()) return ::testing::AssertionFailure() << "hidden";
    const QRect where(widget->mapTo(area, QPoint(0, 0)), widget->size());
    if (!area->rect().contains(where))
        return ::testing::AssertionFailure()
               << "at " << where.x() << "," << where.y() << " " << where.width() << "x"
               << where.height() << " outside " << area->width() << "x" << area->height();
    return ::testing::AssertionSuccess();
}

// Lets the layouts settle: a wrapping bar asks for its new height after its first resize.
void Settle() {
    constexpr int SettleMs = 100;
    QTest::qWait(SettleMs);
}

struct HiDpi : test::FreshHomeFrame {
    HiDpi() : FreshHomeFrame("kv-hidpi-") {}
};

TEST_F(HiDpi, SettingsBarShowsEveryControlInAWindow1280PixelsWide) {
    ASSERT_GT(Scale(), 1.0) << "run with QT_SCALE_FACTOR";
    Frame->resize(Logical(WindowWidth, WindowHeight));
    Frame->show();
    Settle();
    SettingsBar& bar = Frame->Settings();
    const auto controls = bar.findChildren<QWidget*>();
    int checked = 0;
    for (QWidget* control : controls) {
        if (!qobject_cast<QComboBox*>(control) && !qobject_cast<QPushButton*>(control)) continue;
        ++checked;
        EXPECT_TRUE(ShownInside(control, &bar))
            << control->objectName().toStdString() << " " << control->metaObject()->className();
        EXPECT_TRUE(ShownInside(control, Frame.get()));
    }
    EXPECT_EQ(checked, 5) << "Train, the three boxes and Clear";
    // On a row of its own the bar needs at most two rows of controls, not a column of them.
    EXPECT_LT(bar.height(), 3 * bar.TrainBox()->height());
    for (auto* button : bar.findChildren<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        EXPECT_FALSE(button->isVisible()) << "controls went behind the overflow button";
}

TEST_F(HiDpi, ToolBarShowsEveryButtonInAWindow1280PixelsWide) {
    ASSERT_GT(Scale(), 1.0) << "run with QT_SCALE_FACTOR";
    Frame->resize(Logical(WindowWidth, WindowHeight));
    Frame->show();
    Settle();
    int buttons = 0;
    for (QAction* action : Frame->ToolBarButtons()) {
        if (action->isSeparator()) continue;
        ++buttons;
        const auto shown = action->associatedObjects();
        const auto button = std::find_if(shown.begin(), shown.end(), [](QObject* o) {
            return qobject_cast<QToolButton*>(o) != nullptr;
        });
        ASSERT_NE(button, shown.end()) << action->data().toInt();
        EXPECT_TRUE(ShownInside(static_cast<QToolButton*>(*button), Frame.get()))
            << action->data().toInt();
    }
    EXPECT_EQ(buttons,
              static_cast<int>(std::count_if(ToolBarLayout().begin(), ToolBarLayout().end(),
                                             [](int id) { return id != 0; })));
}

TEST_F(HiDpi, SettingsDialogFitsALaptopScreenWithItsButtonsShown) {
    ASSERT_GT(Scale(), 1.0) << "run with QT_SCALE_FACTOR";
    CTrainDia dialog(TrainDiaFields{}, TrainDiaFields{}, TrainDiaLists{}, Frame.get());
    const QSize screen = dialog.screen()->availableGeometry().size();
    EXPECT_LE(dialog.width(), screen.width());
    EXPECT_LE(dialog.height(), screen.height());

    const QSize laptop = Logical(LaptopWidth, LaptopHeight);
    dialog.resize(laptop);
    dialog.show();
    Settle();
    EXPECT_LE(dialog.width(), laptop.width());
    EXPECT_LE(dialog.height(), laptop.height());
    for (int id : {ctl::Ok, ctl::Cancel, ctl::Apply})
        EXPECT_TRUE(ShownInside(dialog.Control(id), &dialog)) << "button " << id;
    // The last rows scroll into view.
    auto* scroll = dialog.findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    QWidget* last = dialog.Control(ctl::Duplex);
    scroll->ensureWidgetVisible(last);
    Settle();
    EXPECT_TRUE(ShownInside(last, scroll->viewport()));
    dialog.reject();
}

// Every other dialog and the help window open whole on the laptop screen.
TEST_F(HiDpi, EveryWindowFitsALaptopScreen) {
    ASSERT_GT(Scale(), 1.0) << "run with QT_SCALE_FACTOR";
    const QSize laptop = Logical(LaptopWidth, LaptopHeight);
    const std::pair<const char*, std::function<std::unique_ptr<QWidget>()>> windows[] = {
        {"log viewer settings",
         [] { return std::make_unique<CPostDia>(GraphSettings{}, [](const QString&) {}); }},
        {"annotate positions",
         [] {
             return std::make_unique<CAnnotatePos>(QStringLiteral("/home/user/Documents/watch.log"),
                                                   QStringLiteral("Title"),
                                                   [](const QString& s) { return s; });
         }},
        {"end of calibration",
         [] {
             return std::make_unique<CDEndCal>(
                 QStringLiteral("Sound card error +12.3 ppm\nover 2:00:00, 7200 comparisons"));
         }},
        {"title", [] { return std::make_unique<CTitleDlg>(QStringLiteral("ETA 2824")); }},
        {"about", [] { return std::make_unique<CAboutDlg>(); }},
        {"annotate", [] { return std::make_unique<CAnnotateDlg>(); }},
        {"help", [] { return std::make_unique<HelpWindow>(QStringLiteral(KV_GUIDE_DIR)); }},
    };
    for (const auto& [name, make] : windows) {
        const std::unique_ptr<QWidget> window = make();
        window->show();
        Settle();
        EXPECT_LE(window->width(), laptop.width()) << name;
        EXPECT_LE(window->height(), laptop.height()) << name;
        window->close();
    }
}

TEST_F(HiDpi, ReadoutsGrowWithTheScreen) {
    ASSERT_GT(Scale(), 1.0) << "run with QT_SCALE_FACTOR";
    Frame->resize(Logical(WindowWidth, WindowHeight));
    Frame->show();
    Settle();
    View().repaint();
    // In proportion to the window alone the large line would be H / 32 logical pixels: the
    // same size on the screen as at scale 1, smaller than the menus beside it. It grows by the
    // scale, but at scale 2 a window 640 logical pixels wide holds the readouts left of the
    // tape only at about 1.5 times that size.
    constexpr double RoomLeftOfTheTape = 1.5;
    const int proportional = View().height() / 32;
    EXPECT_GE(View().Display.L2,
              static_cast<int>(proportional * std::min(Scale(), RoomLeftOfTheTape) * 0.9))
        << "view " << View().width() << "x" << View().height();
    EXPECT_LE(4 * View().Display.L2 + 11 * View().Display.L1, View().height())
        << "readouts and status lines overlap";
}

} // namespace
} // namespace kv
