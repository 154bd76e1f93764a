// The program's icon: every window carries it, in each size drawn for it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <QImage>

#include "link/interface.h"
#include "link/scan.h"
#include "monitor/compact.h"
#include "support/gui_fixture.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

class WindowIcon : public GuiTest {};

QImage Pixels(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32_Premultiplied); }

TEST_F(WindowIcon, EveryWindowCarriesTheProgramsIcon) {
    QApplication::setWindowIcon(QIcon());  // nothing left over from an earlier start
    StartWithDevice();
    const std::vector<std::pair<const char*, QWidget*>> windows = {
        {"Form1", Form1}, {"Form2", Form2}, {"Form3", Form3}, {"Form4", Form4}, {"Form5", Form5},
        {"Form6", Form6}, {"Form7", Form7}, {"Form8", Form8}, {"Form9", Form9},
    };
    for (const auto& [name, window] : windows) {
        SCOPED_TRACE(name);
        ASSERT_NE(window, nullptr);
        const QIcon icon = window->windowIcon();
        ASSERT_FALSE(icon.isNull());
        for (int size : {16, 32, 48, 64, 128, 256}) {
            SCOPED_TRACE(size);
            const QImage drawn(QString(":/icons/veresk-%1.png").arg(size));
            ASSERT_EQ(drawn.size(), QSize(size, size));
            EXPECT_EQ(Pixels(icon.pixmap(QSize(size, size)).toImage()), Pixels(drawn));
        }
    }
    // The program's icon, also for windows made later (message boxes).
    EXPECT_EQ(Pixels(QApplication::windowIcon().pixmap(QSize(48, 48)).toImage()),
              Pixels(QImage(":/icons/veresk-48.png")));
}

}  // namespace
