// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/page.h"
#include "gui/tab_window.h"
#include "tests/support/temp_corvo.h"
#include "tests/support/widgets.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

namespace {

// A page with an edit and a button that counts its presses. The button is a plain one, which in a dialog would
// take Enter when it has the focus.
class CountingPage : public Page {
public:
    CountingPage(QWidget* parent, int trace_number) : Page(parent, trace_number) {
        edit = add_edit("edit", 10, 10, 50, 12, 16);
        button = new QPushButton(QStringLiteral("press"), this);
        button->setObjectName(QStringLiteral("button"));
        button->setDefault(true);
        connect(button, &QPushButton::clicked, [this] { ++presses; });
        connect(edit, &QLineEdit::returnPressed, [this] { ++presses; });
    }
    QLineEdit* edit;
    QPushButton* button;
    int presses = 0;
};

class TwoPageWindow : public TabWindow {
public:
    explicit TwoPageWindow(CloseBox close_box = CloseBox::shown) : TabWindow("test", close_box) {
        first = new CountingPage(tab_parent(), 1);
        second = new CountingPage(tab_parent(), 2);
        add_page(" 一 ", first);
        add_page(" 二 ", second);
        show_first_page();
    }
    CountingPage* first;
    CountingPage* second;
};

class TabWindowTest : public ::testing::Test {
protected:
    TempCorvo corvo;
};

} // namespace

TEST_F(TabWindowTest, EnterPressesNothingAndClosesNothing) {
    TwoPageWindow window;
    window.show();
    for (QWidget* target : {static_cast<QWidget*>(window.first->edit), static_cast<QWidget*>(window.first->button),
                            static_cast<QWidget*>(window.tabs()->tabBar()), static_cast<QWidget*>(&window)}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    EXPECT_EQ(window.first->presses, 0);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.result(), 0);
}

TEST_F(TabWindowTest, EscapeNeverCancels) {
    TwoPageWindow window;
    window.show();
    QTest::keyClick(window.first->edit, Qt::Key_Escape);
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.result(), 0);
}

TEST_F(TabWindowTest, OneTabShowsExactlyItsPageAtTheFixedOffset) {
    TwoPageWindow window;
    window.show();
    EXPECT_TRUE(window.first->isVisible());
    EXPECT_FALSE(window.second->isVisible());
    EXPECT_EQ(window.second->pos(), QPoint(14, 20));

    window.tabs()->setCurrentIndex(1);
    EXPECT_FALSE(window.first->isVisible());
    EXPECT_TRUE(window.second->isVisible());

    // The tab row is taller than the page offset in this font: a click low on a tab must still reach the tab row,
    // not the page above it.
    QTabBar* bar = window.tabs()->tabBar();
    QPoint low_on_tab = bar->tabRect(0).center() + QPoint(0, bar->tabRect(0).height() / 3);
    ASSERT_GE(bar->mapTo(window.tabs(), low_on_tab).y(), 20);
    EXPECT_EQ(window.tabs()->childAt(bar->mapTo(window.tabs(), low_on_tab)), bar);
    QTest::mouseClick(bar, Qt::LeftButton, {}, low_on_tab);
    EXPECT_EQ(window.tabs()->currentIndex(), 0);
    EXPECT_TRUE(window.first->isVisible());
    EXPECT_FALSE(window.second->isVisible());
}

TEST_F(TabWindowTest, CloseBoxEndsTheDialogTheOrdinaryWay) {
    TwoPageWindow window;
    window.show();
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
}

// A close box that did nothing would leave the Close button as the only way out, and a user would not find it.
TEST_F(TabWindowTest, ACloseBoxThatEndsTheProgramEndsItAsTheCloseButtonDoes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TwoPageWindow window(TabWindow::CloseBox::ends_program);
            window.show();
            if (window.windowFlags().testFlag(Qt::WindowCloseButtonHint)) {
                window.close();
            }
        },
        ::testing::ExitedWithCode(1), "");
}

TEST_F(TabWindowTest, CloseButtonEndsTheProgramWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TwoPageWindow window;
            window.show();
            QTest::mouseClick(window.close_button(), Qt::LeftButton);
        },
        ::testing::ExitedWithCode(1), "");
}
