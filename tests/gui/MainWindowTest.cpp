// The main window without servers: layout, fonts, focus, the lists, the small handlers,
// the progress bar, pointer feedback, the guard and the close.
#include "GuiEvents.h"
#include "GuiTestApplication.h"
#include "MainWindowFixture.h"
#include "app/shell/ApplicationTitle.h"
#include "app/shell/Dialogs.h"
#include "app/window/PointerFeedback.h"
#include "app/window/WindowProcedures.h"
#include "catalogue/window/Form2.h"
#include "catalogue/window/Form2Controls.h"
#include "connect/LiveProfiles.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace veltrane {
namespace {

[[maybe_unused]] auto* const kApp =
    ::testing::AddGlobalTestEnvironment(new test::GuiTestApplication);

using test::MainWindow;

void ShowActive(QWidget& window) {
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

QWidget* Control(Form2& form, const char* name) {
    return form.findChild<QWidget*>(QString::fromLatin1(name));
}

TEST(MainWindowTest, ControlsSitWhereTheTwipsTablePutsThem) {
    MainWindow w;
    struct Expected {
        const char* name;
        const char* parent;
        QRect geometry;
    };
    const Expected table[] = {
        {"List2", "Frame2", {16, 24, 222, 109}},
        {"List1", "Frame1", {16, 24, 222, 109}},
        {"Frame2", "Form2", {272, 8, 256, 281}},
        {"Frame1", "Form2", {8, 8, 256, 281}},
        {"PushButton10", "Frame1", {16, 140, 107, 27}},
        {"PushButton11", "Frame1", {131, 140, 107, 27}},
        {"PushButton3", "Frame1", {16, 173, 222, 27}},
        {"PushButton1", "Frame1", {16, 207, 222, 27}},
        {"PushButton6", "Frame1", {16, 240, 222, 27}},
        {"PushButton8", "Frame2", {16, 140, 107, 27}},
        {"PushButton9", "Frame2", {131, 140, 107, 27}},
        {"PushButton4", "Frame2", {16, 173, 222, 27}},
        {"PushButton5", "Frame2", {16, 207, 222, 27}},
        {"PushButton7", "Frame2", {16, 240, 222, 27}},
        {"PushButton2", "Form2", {8, 332, 256, 27}},
        {"ProgressBar1", "Form2", {8, 297, 520, 27}},
        {"PushButton12", "Form2", {272, 332, 256, 27}},
    };
    for (const Expected& e : table) {
        QWidget* control = Control(w.form, e.name);
        ASSERT_NE(control, nullptr) << e.name;
        EXPECT_EQ(control->geometry(), e.geometry) << e.name;
        EXPECT_EQ(control->parentWidget()->objectName(), QString::fromLatin1(e.parent)) << e.name;
    }
    ShowActive(w.form);
    EXPECT_EQ(w.form.size(), QSize(536, 367));
    EXPECT_EQ(w.form.minimumSize(), w.form.maximumSize());
    EXPECT_EQ(w.form.windowTitle(), QStringLiteral("Veltrane"));
    EXPECT_EQ(w.form.Frame1().title(), QStringLiteral("MySQL Tables"));
    EXPECT_EQ(w.form.Frame2().title(), QStringLiteral("Sybase ASE Tables"));
    EXPECT_EQ(w.form.palette().color(w.form.backgroundRole()), ButtonFaceColor());
    EXPECT_TRUE(w.dialogs.shown().empty()) << "the load step reported a failure";
}

TEST(MainWindowTest, ButtonCaptionsInBoldArialFitTheirButtons) {
    MainWindow w;
    const std::pair<int, const char*> captions[] = {
        {1, "Delete Table/s"},        {2, "< Back"},         {3, "Send Table/s To Sybase ASE"},
        {4, "Send Table/s To MySQL"}, {5, "Delete Table/s"}, {6, "Rename Table"},
        {7, "Rename Table"},          {8, "Select All"},     {9, "Deselect All"},
        {10, "Select All"},           {11, "Deselect All"},  {12, "Help"},
    };
    for (const auto& [number, caption] : captions) {
        QPushButton& button = w.form.PushButton(number);
        EXPECT_EQ(button.text(), QString::fromLatin1(caption)) << number;
        EXPECT_EQ(button.font().family(), QStringLiteral("Arial"));
        EXPECT_DOUBLE_EQ(button.font().pointSizeF(), 11.25);
        EXPECT_TRUE(button.font().bold());
        // Resolved to a metric-compatible face, not whatever the fallback is.
        EXPECT_EQ(QFontInfo(button.font()).family(), QStringLiteral("Liberation Sans"));
        const int textWidth = QFontMetrics(button.font()).horizontalAdvance(button.text());
        EXPECT_LT(textWidth + 8, button.width()) << caption;
    }
}

TEST(MainWindowTest, FocusStartsInTheSybaseListAndFollowsTheTableOrder) {
    MainWindow w;
    ShowActive(w.form);
    EXPECT_EQ(QApplication::focusWidget(), &w.form.List2());
    const char* order[] = {"List2",       "List1",       "PushButton10", "PushButton11",
                           "PushButton3", "PushButton1", "PushButton6",  "PushButton8",
                           "PushButton9", "PushButton4", "PushButton5",  "PushButton7",
                           "PushButton2", "PushButton12"};
    QWidget* at = &w.form.List2();
    for (std::size_t i = 1; i < std::size(order); ++i) {
        do
            at = at->nextInFocusChain();
        while (!(at->focusPolicy() & Qt::TabFocus));
        EXPECT_EQ(at->objectName(), QString::fromLatin1(order[i]));
    }
}

TEST(MainWindowTest, ListsSortIgnoringCaseAndHaveNoCurrentEntryUntilTheUserPicksOne) {
    MainWindow w;
    ShowActive(w.form);
    TableListBox& list = w.form.List2(); // has the focus
    for (const char* name : {"orders", "Zeta", "alpha", "Orders", "beta"})
        list.AddItem(QString::fromLatin1(name));
    EXPECT_EQ(list.Texts(), QStringList({"alpha", "beta", "orders", "Orders", "Zeta"}));
    EXPECT_EQ(list.CurrentIndex(), -1);
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::ExtendedSelection);

    // Gaining the focus again does not make the first entry current either.
    w.form.List1().setFocus(Qt::TabFocusReason);
    list.setFocus(Qt::TabFocusReason);
    EXPECT_EQ(list.CurrentIndex(), -1);

    // Keys and clicks pick it; an added entry keeps it on the same name.
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.CurrentIndex(), 0);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                      list.visualItemRect(list.item(2)).center());
    EXPECT_EQ(list.CurrentIndex(), 2);
    EXPECT_TRUE(list.IsSelected(2));
    list.AddItem(QStringLiteral("Able"));
    EXPECT_EQ(list.Text(list.CurrentIndex()), QStringLiteral("orders"));

    // Removing another entry keeps current and selection; removing the current leaves none.
    list.RemoveItem(0);
    EXPECT_EQ(list.Text(list.CurrentIndex()), QStringLiteral("orders"));
    EXPECT_TRUE(list.IsSelected(list.CurrentIndex()));
    list.RemoveItem(list.CurrentIndex());
    EXPECT_EQ(list.CurrentIndex(), -1);
    EXPECT_EQ(list.SelectedCount(), 0);
    EXPECT_THROW(list.Text(99), std::out_of_range);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

// Each entry goes after every entry equal to it or before it ignoring letter case, so the
// list reads like a stable sort of the names in the order they were added; in the window's
// list and in the one without a window alike.
TEST(MainWindowTest, ListsPlaceEntriesAsAStableSortIgnoringCase) {
    QStringList many; // in the servers' binary order, not the lists' order
    for (int i = 0; i < 600; ++i)
        many.append(QStringLiteral("%1_%2")
                        .arg(QStringList({"tab", "Tab", "TAB", "t"}).at(i % 4))
                        .arg((i * 7919) % 1009));
    const QStringList cases[] = {
        {},
        {"b", "a", "c"},
        {"orders", "orders", "Orders", "ORDERS", "orders"},
        {"ab", "a", "A", "AB", "a_b", "a b", "a1", "Ab"},
        {"zeta", "Zeta", "z", "Ä", "a", "é", "E", "f"},
        {"e", "d", "c", "B", "a"},
        many,
    };
    MainWindow w;
    for (const QStringList& names : cases) {
        QStringList expected = names;
        std::stable_sort(expected.begin(), expected.end(), [](const QString& a, const QString& b) {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        });
        MemoryTableList memory;
        TableListBox& window = w.form.List1();
        window.Clear();
        for (const QString& name : names) {
            memory.AddItem(name);
            window.AddItem(name);
        }
        EXPECT_EQ(memory.Texts(), expected) << names.mid(0, 8).join(',').toStdString();
        EXPECT_EQ(window.Texts(), expected) << names.mid(0, 8).join(',').toStdString();
    }
}

TEST(MainWindowTest, SelectAndDeselectAllKeepTheCurrentEntry) {
    MainWindow w;
    struct Case {
        int selectButton;
        int deselectButton;
        TableListBox& list;
    };
    const Case cases[] = {{10, 11, w.form.List1()}, {8, 9, w.form.List2()}};
    for (const Case& c : cases) {
        // An empty list stays as it is, silently.
        c.list.Clear();
        w.form.PushButton(c.selectButton).click();
        EXPECT_EQ(c.list.Count(), 0);

        for (const char* name : {"a", "b", "c"})
            c.list.AddItem(QString::fromLatin1(name));
        c.list.setCurrentRow(1, QItemSelectionModel::NoUpdate);
        w.form.PushButton(c.selectButton).click();
        EXPECT_EQ(c.list.SelectedCount(), 3);
        EXPECT_EQ(c.list.CurrentIndex(), 1);
        w.form.PushButton(c.deselectButton).click();
        EXPECT_EQ(c.list.SelectedCount(), 0);
        EXPECT_EQ(c.list.CurrentIndex(), 1);
    }
    EXPECT_EQ(w.form.List1().Count(), 3) << "each button works on its own list only";
    EXPECT_TRUE(w.dialogs.shown().empty());
}

TEST(MainWindowTest, MessagesOfHelpAndSybaseRename) {
    MainWindow w;
    w.form.List2().AddItem(QStringLiteral("orders"));
    w.form.List2().SetSelected(0, true);
    w.form.PushButton(12).click();
    w.form.PushButton(7).click();
    ASSERT_EQ(w.dialogs.shown().size(), 2u);
    for (const ScriptedDialogs::Shown& box : w.dialogs.shown()) {
        EXPECT_EQ(box.caption, ApplicationTitle());
        EXPECT_EQ(box.icon, MessageIcon::None);
        EXPECT_EQ(box.buttons, MessageButtons::Ok);
    }
    EXPECT_EQ(w.dialogs.shown()[0].text,
              QStringLiteral("Questions? Please contact Team Harnwick at "
                             "https://www.harnwick.example/contact"));
    EXPECT_EQ(w.dialogs.shown()[1].text, QStringLiteral("Rename not available."));
    EXPECT_EQ(w.form.List2().Texts(), QStringList({"orders"}));
}

TEST(MainWindowTest, BackShowsTheConnectionWindowAndKeepsTheLists) {
    MainWindow w;
    QWidget connectionWindow;
    w.form.SetConnectionWindow(&connectionWindow);
    w.form.List1().AddItem(QStringLiteral("orders"));
    w.form.List1().SetSelected(0, true);
    w.form.show();
    w.form.PushButton(2).click();
    EXPECT_TRUE(connectionWindow.isVisible());
    EXPECT_FALSE(w.form.isVisible());
    EXPECT_TRUE(w.form.List1().IsSelected(0));
    EXPECT_TRUE(w.dialogs.shown().empty());
}

TEST(MainWindowTest, ProgressBarKeepsFractionalPercentages) {
    MainWindow w;
    PercentProgressBar& bar = w.form.ProgressBar1();
    EXPECT_EQ(bar.Percent(), 0.0);
    bar.SetPercent(100.0 / 3);
    EXPECT_EQ(bar.Percent(), 100.0 / 3);
    EXPECT_EQ(bar.value() * 100 / bar.maximum(), 33);
    EXPECT_GT(bar.value(), bar.maximum() / 3 - 1) << "drawn to a hundredth of a percent";
    bar.SetPercent(100);
    EXPECT_EQ(bar.value(), bar.maximum());
    for (double bad : {-0.5, 100.01, std::nan("")})
        EXPECT_THROW(bar.SetPercent(bad), std::invalid_argument) << bad;
    EXPECT_EQ(bar.Percent(), 100.0);

    // Row by row through a long table, the drawn bar stays within a pixel of the share and
    // shows the whole percent, but is redrawn only as often as that changes.
    bar.SetPercent(0);
    int redraws = 0;
    QObject::connect(&bar, &QProgressBar::valueChanged, [&] { ++redraws; });
    constexpr int kRows = 100000;
    for (int row = 1; row <= kRows; ++row) {
        const double percent = row * 100.0 / kRows;
        bar.SetPercent(percent);
        ASSERT_EQ(bar.Percent(), percent);
        const int steps = static_cast<int>(std::lround(percent * (bar.maximum() / 100)));
        ASSERT_LT(std::abs(bar.value() - steps) * bar.width(), bar.maximum()) << row;
        ASSERT_EQ(bar.value() * 100 / bar.maximum(), steps * 100 / bar.maximum()) << row;
    }
    EXPECT_EQ(bar.value(), bar.maximum());
    EXPECT_LE(redraws, bar.width() + 101);
}

TEST(MainWindowTest, PointerIsAHandOverButtonsAndStandardOverTheRest) {
    MainWindow w;
    ShowActive(w.form);
    WindowPointer& pointer = w.form.Pointer();
    struct Step {
        QWidget* over;
        PointerShape expected;
    };
    const Step steps[] = {
        {&w.form.PushButton(1), PointerShape::Custom},
        {&w.form, PointerShape::Standard},
        {&w.form.PushButton(12), PointerShape::Custom},
        {&w.form.ProgressBar1(), PointerShape::Custom},
        {&w.form.List1(), PointerShape::Standard},
        {&w.form.PushButton(7), PointerShape::Custom},
        {&w.form.Frame2(), PointerShape::Standard},
        {&w.form.PushButton(3), PointerShape::Custom},
        {&w.form.List2(), PointerShape::Standard},
    };
    for (const Step& step : steps) {
        test::MoveOver(step.over, step.over == &w.form ? QPoint(535, 366) : QPoint(-1, -1));
        EXPECT_EQ(pointer.Shape(), step.expected) << step.over->objectName().toStdString();
    }
    pointer.SetShape(PointerShape::Busy);
    test::MoveOver(&w.form.PushButton(10));
    EXPECT_EQ(pointer.Shape(), PointerShape::Busy);
}

TEST(MainWindowTest, ButtonsDoNothingWhileAnotherOperationRuns) {
    MainWindow w;
    QWidget connectionWindow;
    w.form.SetConnectionWindow(&connectionWindow);
    w.form.show();
    w.form.List1().AddItem(QStringLiteral("orders"));
    w.form.List1().setCurrentRow(0, QItemSelectionModel::NoUpdate);
    w.form.List2().AddItem(QStringLiteral("orders"));
    w.form.List2().setCurrentRow(0, QItemSelectionModel::NoUpdate);
    {
        auto running = w.form.Guard().Enter();
        ASSERT_TRUE(running);
        // Unguarded, the drops and the rename would report (no server, nothing selected), and
        // "< Back" would show the connection window, whose "Next >" refills the lists.
        for (int number : {10, 8, 1, 5, 6, 2})
            w.form.PushButton(number).click();
        EXPECT_EQ(w.form.List1().SelectedCount() + w.form.List2().SelectedCount(), 0);
        EXPECT_TRUE(w.dialogs.shown().empty());
        EXPECT_EQ(w.form.Pointer().Shape(), PointerShape::Standard);
        EXPECT_TRUE(w.form.isVisible());
        EXPECT_FALSE(connectionWindow.isVisible());
    }
    w.form.PushButton(10).click();
    EXPECT_TRUE(w.form.List1().IsSelected(0));
    w.form.PushButton(2).click();
    EXPECT_TRUE(connectionWindow.isVisible());
}

TEST(MainWindowDeathTest, ClosingTheWindowEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            MainWindow w;
            QWidget connectionWindow;
            w.form.SetConnectionWindow(&connectionWindow);
            connectionWindow.show();
            w.form.show();
            w.form.close();
            std::fputs("the program went on after the close\n", stderr);
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace veltrane
