#include "GuiEvents.h"
#include "GuiTestApplication.h"
#include "app/shell/EndProgram.h"
#include "app/shell/ErrorTrap.h"
#include "app/shell/OperationGuard.h"
#include "app/shell/ProgramFiles.h"
#include "app/shell/Yield.h"
#include "app/window/PointerFeedback.h"
#include "app/window/QtDialogs.h"
#include "app/window/WindowProcedures.h"

#include <QBitmap>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <gtest/gtest.h>

namespace veltrane {
namespace {

[[maybe_unused]] auto* const kApp =
    ::testing::AddGlobalTestEnvironment(new test::GuiTestApplication);

// A small window laid out like the real ones: a frame with a label, a field, a button and a
// list, a progress bar outside the frame.
struct TestWindow {
    TestWindow() {
        window.setGeometry(0, 0, 400, 300);
        frame = new QGroupBox(QStringLiteral("MySQL Tables"), &window);
        frame->setGeometry(10, 10, 250, 250);
        label = new QLabel(QStringLiteral("Server:"), frame);
        label->setGeometry(10, 20, 60, 20);
        field = new QLineEdit(frame);
        field->setGeometry(80, 20, 100, 20);
        button = new QPushButton(QStringLiteral("Select All"), frame);
        button->setGeometry(10, 50, 100, 30);
        list = new QListWidget(frame);
        list->setGeometry(10, 90, 200, 100);
        check = new QCheckBox(&window);
        check->setGeometry(270, 10, 20, 20);
        radio = new QRadioButton(&window);
        radio->setGeometry(270, 40, 20, 20);
        progress = new QProgressBar(&window);
        progress->setGeometry(10, 270, 250, 20);
        window.show();
    }

    QWidget window;
    QGroupBox* frame;
    QLabel* label;
    QLineEdit* field;
    QPushButton* button;
    QListWidget* list;
    QCheckBox* check;
    QRadioButton* radio;
    QProgressBar* progress;
};

using test::MoveOver;

// A Windows cursor (type 2) or icon (type 1) file of one 32x32 32-bit image.
QByteArray CursorFile(quint16 type, quint16 hotX, quint16 hotY) {
    QByteArray bmp(40, '\0');
    qToLittleEndian<quint32>(40, bmp.data());
    qToLittleEndian<qint32>(32, bmp.data() + 4);
    qToLittleEndian<qint32>(64, bmp.data() + 8); // image and mask
    qToLittleEndian<quint16>(1, bmp.data() + 12);
    qToLittleEndian<quint16>(32, bmp.data() + 14);
    for (int i = 0; i < 32 * 32; ++i)
        bmp.append(QByteArray::fromRawData("\x20\x40\xc0\xff", 4)); // opaque, BGRA
    bmp.append(QByteArray(32 * 4, '\0'));                           // AND mask: all shown

    QByteArray file(22, '\0');
    qToLittleEndian<quint16>(type, file.data() + 2);
    qToLittleEndian<quint16>(1, file.data() + 4);
    file[6] = 32;
    file[7] = 32;
    qToLittleEndian<quint16>(type == 2 ? hotX : 1, file.data() + 10);
    qToLittleEndian<quint16>(type == 2 ? hotY : 32, file.data() + 12);
    qToLittleEndian<quint32>(static_cast<quint32>(bmp.size()), file.data() + 14);
    qToLittleEndian<quint32>(22, file.data() + 18);
    return file + bmp;
}

QString WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
}

TEST(CursorFileTest, HotSpotFromBytesTenToThirteen) {
    QTemporaryDir dir;
    const QCursor cursor =
        LoadCursorFile(WriteFile(dir.filePath(QStringLiteral("HAND-M.CUR")), CursorFile(2, 9, 3)));
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.hotSpot(), QPoint(9, 3));
    const QImage image = cursor.pixmap().toImage();
    ASSERT_EQ(image.size(), QSize(32, 32));
    EXPECT_EQ(image.pixelColor(5, 5), QColor(0xc0, 0x40, 0x20));
}

TEST(CursorFileTest, IconFileWithoutHotSpotUsesTopLeft) {
    QTemporaryDir dir;
    // The icon header's planes and bit count sit where a cursor keeps its hot spot; they must
    // not be taken for one.
    const QCursor cursor =
        LoadCursorFile(WriteFile(dir.filePath(QStringLiteral("HAND-M.CUR")), CursorFile(1, 0, 0)));
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.hotSpot(), QPoint(0, 0));
}

TEST(CursorFileTest, HotSpotOutsideImageIsClampedAndBrokenFilesThrow) {
    QTemporaryDir dir;
    EXPECT_EQ(
        LoadCursorFile(WriteFile(dir.filePath(QStringLiteral("a.cur")), CursorFile(2, 500, 40)))
            .hotSpot(),
        QPoint(31, 31));
    EXPECT_THROW(LoadCursorFile(dir.filePath(QStringLiteral("missing.cur"))), std::runtime_error);
    EXPECT_THROW(LoadCursorFile(WriteFile(dir.filePath(QStringLiteral("short.cur")), "\0\0\2\0")),
                 std::runtime_error);
    QByteArray truncated = CursorFile(2, 1, 1);
    truncated.truncate(60);
    EXPECT_THROW(LoadCursorFile(WriteFile(dir.filePath(QStringLiteral("t.cur")), truncated)),
                 std::runtime_error);
    QByteArray notCursor = CursorFile(2, 1, 1);
    notCursor[2] = 7;
    EXPECT_THROW(LoadCursorFile(WriteFile(dir.filePath(QStringLiteral("n.cur")), notCursor)),
                 std::runtime_error);
}

class PointerFeedbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        pointer.MarkStandard(&w.window);
        pointer.MarkStandard(w.frame);
        pointer.MarkStandard(w.field);
        pointer.MarkStandard(w.list);
        pointer.MarkCustom(w.button);
        QTemporaryDir dir;
        hand = LoadCursorFile(
            WriteFile(dir.filePath(QStringLiteral("HAND-M.CUR")), CursorFile(2, 6, 1)));
    }
    // The shape the window system shows over the button (it inherits the window's cursor).
    Qt::CursorShape ShownOverButton() const { return w.button->cursor().shape(); }

    TestWindow w;
    WindowPointer pointer{&w.window};
    QCursor hand;
};

TEST_F(PointerFeedbackTest, ButtonShowsHandAndSurfaceFrameFieldListShowStandard) {
    pointer.SetCustomCursor(hand);
    EXPECT_EQ(pointer.Shape(), PointerShape::Standard);
    MoveOver(w.button);
    EXPECT_EQ(pointer.Shape(), PointerShape::Custom);
    EXPECT_EQ(ShownOverButton(), Qt::BitmapCursor);
    EXPECT_EQ(w.window.cursor().hotSpot(), QPoint(6, 1));
    MoveOver(&w.window, QPoint(300, 200));
    EXPECT_EQ(pointer.Shape(), PointerShape::Standard);
    EXPECT_EQ(ShownOverButton(), Qt::ArrowCursor);

    for (QWidget* standard : {static_cast<QWidget*>(w.frame), static_cast<QWidget*>(w.field),
                              static_cast<QWidget*>(w.list)}) {
        MoveOver(w.button);
        ASSERT_EQ(pointer.Shape(), PointerShape::Custom);
        // A move over the frame's own surface, not over one of its elements.
        MoveOver(standard, standard == w.frame ? QPoint(230, 230) : QPoint(-1, -1));
        EXPECT_EQ(pointer.Shape(), PointerShape::Standard) << standard->metaObject()->className();
    }
}

TEST_F(PointerFeedbackTest, ElementsWithoutHandlerKeepTheHand) {
    pointer.SetCustomCursor(hand);
    MoveOver(w.button);
    // The label and the progress bar pass nothing to the frame or the window that would set the
    // standard shape.
    MoveOver(w.label);
    MoveOver(w.progress);
    EXPECT_EQ(pointer.Shape(), PointerShape::Custom);
    EXPECT_EQ(w.window.cursor().shape(), Qt::BitmapCursor);
}

TEST_F(PointerFeedbackTest, WithoutCursorFileTheCustomShapeLooksStandard) {
    MoveOver(w.button);
    EXPECT_EQ(pointer.Shape(), PointerShape::Custom);
    EXPECT_FALSE(pointer.HasCustomCursor());
    EXPECT_EQ(ShownOverButton(), Qt::ArrowCursor);
}

TEST_F(PointerFeedbackTest, BusyWindowIgnoresMovesAndEndsStandard) {
    pointer.SetCustomCursor(hand);
    MoveOver(w.button);
    {
        BusyPointer busy(pointer);
        EXPECT_EQ(ShownOverButton(), Qt::WaitCursor);
        MoveOver(w.button);
        MoveOver(&w.window, QPoint(300, 200));
        MoveOver(w.list);
        EXPECT_EQ(pointer.Shape(), PointerShape::Busy);
        EXPECT_EQ(w.window.cursor().shape(), Qt::WaitCursor);
    }
    // Standard at the end, even with the pointer resting on a button, until the next move.
    EXPECT_EQ(pointer.Shape(), PointerShape::Standard);
    EXPECT_EQ(ShownOverButton(), Qt::ArrowCursor);
    MoveOver(w.button);
    EXPECT_EQ(pointer.Shape(), PointerShape::Custom);
}

TEST_F(PointerFeedbackTest, EachWindowKeepsItsOwnShape) {
    TestWindow other;
    WindowPointer otherPointer(&other.window);
    otherPointer.MarkCustom(other.button);
    BusyPointer busy(pointer);
    MoveOver(other.button);
    EXPECT_EQ(otherPointer.Shape(), PointerShape::Custom);
    EXPECT_EQ(pointer.Shape(), PointerShape::Busy);
}

class WindowColoursTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = QApplication::palette();
        QPalette palette = saved;
        palette.setColor(QPalette::Button, face);
        palette.setColor(QPalette::Window, QColor(0x10, 0x20, 0x30));
        palette.setColor(QPalette::Base, QColor(0xfe, 0xfe, 0xfe));
        QApplication::setPalette(palette);
    }
    void TearDown() override { QApplication::setPalette(saved); }

    static bool HasFace(const QWidget* widget, const QColor& face) {
        return widget->autoFillBackground() &&
               widget->palette().color(widget->backgroundRole()) == face;
    }

    QColor face{0xab, 0xcd, 0xef};
    QPalette saved;
};

TEST_F(WindowColoursTest, ResetBackColorsPaintsWindowAndPlainControlsOnly) {
    TestWindow w;
    ASSERT_EQ(ButtonFaceColor(), face);
    ResetBackColors(&w.window);
    for (const QWidget* plain : {static_cast<QWidget*>(&w.window), static_cast<QWidget*>(w.frame),
                                 static_cast<QWidget*>(w.label), static_cast<QWidget*>(w.check),
                                 static_cast<QWidget*>(w.radio)})
        EXPECT_TRUE(HasFace(plain, face)) << plain->metaObject()->className();
    for (const QWidget* other : {static_cast<QWidget*>(w.field), static_cast<QWidget*>(w.button),
                                 static_cast<QWidget*>(w.progress)})
        EXPECT_FALSE(other->testAttribute(Qt::WA_SetPalette)) << other->metaObject()->className();
    EXPECT_EQ(w.field->palette().color(QPalette::Base), QColor(0xfe, 0xfe, 0xfe));
    EXPECT_TRUE(w.window.styleSheet().isEmpty());
}

TEST_F(WindowColoursTest, SkinPresentColoursThenStyleSheetOnConnectionWindowOnly) {
    QTemporaryDir folder;
    const QByteArray sheet = "QLineEdit { color: #ff0000; } /* é */";
    WriteFile(SkinFilePath(folder.path()), sheet);
    TestWindow connection;
    TestWindow main;
    ApplySkin(&connection.window, folder.path());
    EXPECT_EQ(connection.window.styleSheet(), QString::fromUtf8(sheet));
    EXPECT_TRUE(HasFace(&connection.window, face));
    EXPECT_TRUE(HasFace(connection.label, face));
    EXPECT_TRUE(HasFace(connection.frame, face));
    // The field keeps its own background; the sheet sets only its text colour.
    EXPECT_FALSE(connection.field->autoFillBackground());
    EXPECT_EQ(connection.field->palette().color(QPalette::Base), QColor(0xfe, 0xfe, 0xfe));
    EXPECT_TRUE(main.window.styleSheet().isEmpty());
    EXPECT_FALSE(main.window.testAttribute(Qt::WA_SetPalette));
    EXPECT_EQ(connection.field->palette().color(QPalette::Text), QColor(0xff, 0, 0));
}

TEST_F(WindowColoursTest, SkinAbsentChangesNothing) {
    QTemporaryDir folder;
    TestWindow connection;
    // A folder named like the skin file is not a skin file.
    QDir().mkpath(SkinFilePath(folder.path()));
    EXPECT_NO_THROW(ApplySkin(&connection.window, folder.path()));
    EXPECT_TRUE(connection.window.styleSheet().isEmpty());
    EXPECT_FALSE(connection.window.testAttribute(Qt::WA_SetPalette));
    EXPECT_FALSE(connection.label->autoFillBackground());
}

TEST_F(WindowColoursTest, UnreadableSkinIsReportedAtCallerAndColoursStay) {
    QTemporaryDir folder;
    // A skin file whose reading fails for root too: a link to the process's memory file, which
    // opens but refuses to read at offset 0.
    QDir().mkpath(folder.filePath(QStringLiteral("x")));
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), SkinFilePath(folder.path())));
    TestWindow connection;
    ScriptedDialogs dialogs;
    ErrorTrap trap(LocationTag(QStringLiteral("Form1"), QStringLiteral("Form_Load")), dialogs);
    bool next = false;
    trap.Run(100, [&] { ApplySkin(&connection.window, folder.path()); });
    trap.Run(102, [&] { next = true; });
    EXPECT_TRUE(next);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_TRUE(dialogs.shown()[0].text.startsWith(QStringLiteral("Cannot read the skin file ")));
    EXPECT_TRUE(dialogs.shown()[0].text.contains(
        QStringLiteral("\r\nin Brackwater2017/04/05.Form1.Form_Load at line 100\r\r")));
    EXPECT_TRUE(HasFace(&connection.window, face));
    EXPECT_TRUE(connection.window.styleSheet().isEmpty());
}

// Answers the next modal box from inside its own event loop, after checking what it shows.
template <class Check> void AnswerNextBox(Check check) {
    QTimer::singleShot(0, [check] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        check(box);
    });
}

TEST(QtDialogsTest, ErrorBoxAndOverwriteQuestionLookAsDesigned) {
    QWidget parent;
    QtDialogs dialogs(&parent);
    AnswerNextBox([](QMessageBox* box) {
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Application Error"));
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        EXPECT_EQ(box->text(), QStringLiteral("a <b>not bold</b>\r\nin x"));
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        box->button(QMessageBox::Ok)->click();
    });
    dialogs.ErrorBox(QStringLiteral("a <b>not bold</b>\r\nin x"));

    AnswerNextBox([](QMessageBox* box) {
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Overwrite?"));
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Yes));
        box->button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(dialogs.AskOverwrite(QStringLiteral("Would you like to overwrite t?")));

    AnswerNextBox([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    EXPECT_TRUE(dialogs.AskOverwrite(QStringLiteral("Would you like to overwrite t?")));
}

TEST(OperationGuardGuiTest, SecondClickDuringYieldIsIgnored) {
    QPushButton button;
    OperationGuard guard;
    EventYielder yielder(std::chrono::milliseconds(0));
    std::vector<QString> log;
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        auto running = guard.Enter();
        if (!running) {
            log.push_back(QStringLiteral("ignored"));
            return;
        }
        const int run = ++clicks;
        log.push_back(QStringLiteral("start %1").arg(run));
        if (run == 1) {
            // The user clicks again while the operation yields.
            QMetaObject::invokeMethod(&button, &QPushButton::click, Qt::QueuedConnection);
            yielder.YieldNow();
        }
        log.push_back(QStringLiteral("end %1").arg(run));
    });
    button.click();
    EXPECT_EQ(log, (std::vector<QString>{QStringLiteral("start 1"), QStringLiteral("ignored"),
                                         QStringLiteral("end 1")}));
    button.click(); // once the first ends, the button works again
    EXPECT_EQ(log.back(), QStringLiteral("end 2"));
}

// A window whose close ends the program, as both real windows do.
class ClosingWindow : public QWidget {
protected:
    void closeEvent(QCloseEvent*) override { EndProgram(); }
};

TEST(EndProgramDeathTest, ClosingDuringAYieldingOperationEndsAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ClosingWindow window;
            window.show();
            OperationGuard guard;
            auto running = guard.Enter();
            QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
            EventYielder yielder;
            yielder.YieldNow();
            std::fputs("the operation went on after the close\n", stderr);
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace veltrane
