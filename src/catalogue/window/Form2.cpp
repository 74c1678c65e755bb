#include "catalogue/window/Form2.h"

#include "app/shell/ApplicationTitle.h"
#include "app/shell/Dialogs.h"
#include "app/shell/EndProgram.h"
#include "app/shell/ErrorTrap.h"
#include "app/shell/ProgramFiles.h"
#include "app/window/PointerFeedback.h"
#include "app/window/WindowProcedures.h"
#include "catalogue/TableCatalogue.h"
#include "catalogue/window/Form2Controls.h"
#include "connect/Connection.h"
#include "connect/LiveProfiles.h"

#include <QApplication>
#include <QGroupBox>
#include <QPushButton>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <utility>

namespace veltrane {

namespace {

// The window was designed in twips, 15 to a pixel.
int Twips(int twips) {
    return static_cast<int>(std::lround(twips / 15.0));
}

QRect TwipsRect(int left, int top, int width, int height) {
    return {Twips(left), Twips(top), Twips(width), Twips(height)};
}

// The client area, 8040 x 5505 twips: the "< Back" button ends 120 twips above the bottom edge.
const QSize kClientSize(Twips(8040), Twips(5505));

enum class InFrame { None, MySQL, Sybase };

struct ButtonLayout {
    int number;
    const char* caption;
    InFrame frame;
    int left, top, width, height;
};

// In keyboard focus order, after the two lists.
constexpr ButtonLayout kButtons[] = {
    {10, "Select All", InFrame::MySQL, 240, 2100, 1600, 400},
    {11, "Deselect All", InFrame::MySQL, 1960, 2100, 1600, 400},
    {3, "Send Table/s To Sybase ASE", InFrame::MySQL, 240, 2600, 3330, 400},
    {1, "Delete Table/s", InFrame::MySQL, 240, 3100, 3330, 400},
    {6, "Rename Table", InFrame::MySQL, 240, 3600, 3330, 400},
    {8, "Select All", InFrame::Sybase, 240, 2100, 1600, 400},
    {9, "Deselect All", InFrame::Sybase, 1960, 2100, 1600, 400},
    {4, "Send Table/s To MySQL", InFrame::Sybase, 240, 2600, 3330, 400},
    {5, "Delete Table/s", InFrame::Sybase, 240, 3100, 3330, 400},
    {7, "Rename Table", InFrame::Sybase, 240, 3600, 3330, 400},
    {2, "< Back", InFrame::None, 120, 4980, 3840, 405},
    {12, "Help", InFrame::None, 4080, 4980, 3840, 405},
};

// Drops every selected table of `list`, bottom entry first, so that removing an entry leaves the
// positions still to visit unchanged. An entry leaves the list only when its table is gone from
// the server: dropped now, or already dropped by someone else. A connection that did not open,
// was lost, or reached a read-only server has been reported once; the remaining entries then
// stay without a box each.
void DropSelectedEntries(ErrorTrap& trap, TableList& list, Connection& connection, bool opened,
                         ServerKind server, const Form2::DropSteps& steps) {
    bool usable = opened;
    const int count = trap.Value(
        steps.count, [&] { return list.Count(); }, 0);
    for (int i = count - 1; i >= 0; --i) {
        if (!trap.If(steps.isSelected, [&] { return list.IsSelected(i); }) || !usable)
            continue;
        bool gone = false;
        trap.Run(steps.drop, [&] {
            const QString name = list.Text(i);
            try {
                connection.Execute(server == ServerKind::MySQL
                                       ? MySQLDropTableStatement(name)
                                       : SybaseDropTableStatement(name, list.Owner(i)));
                gone = true;
            } catch (const DatabaseError& e) {
                gone = e.Reason() == FailureReason::NoSuchTable;
                usable = !e.ConnectionLost() && e.Reason() != FailureReason::ReadOnly;
                throw;
            }
        });
        if (gone)
            trap.Run(steps.remove, [&] { list.RemoveItem(i); });
    }
}

} // namespace

Form2::Form2(Dialogs& dialogs, LiveProfiles& profiles, QWidget* parent)
    : QWidget(parent)
    , dialogs_(dialogs)
    , profiles_(profiles) {
    setObjectName(QStringLiteral("Form2"));
    CreateControls();
    Form_Load();
}

Form2::~Form2() = default;

QString Form2::Tag(const char* handler) {
    return LocationTag(QStringLiteral("Form2"), QString::fromLatin1(handler));
}

void Form2::CreateControls() {
    resize(kClientSize);
    pointer_ = new WindowPointer(this);
    pointer_->MarkStandard(this);

    frame1_ = new QGroupBox(QStringLiteral("MySQL Tables"), this);
    frame1_->setObjectName(QStringLiteral("Frame1"));
    frame1_->setGeometry(TwipsRect(120, 120, 3840, 4215));
    frame2_ = new QGroupBox(QStringLiteral("Sybase ASE Tables"), this);
    frame2_->setObjectName(QStringLiteral("Frame2"));
    frame2_->setGeometry(TwipsRect(4080, 120, 3840, 4215));

    list1_ = new TableListBox(frame1_);
    list1_->setObjectName(QStringLiteral("List1"));
    list1_->setGeometry(TwipsRect(240, 360, 3330, 1635));
    list2_ = new TableListBox(frame2_);
    list2_->setObjectName(QStringLiteral("List2"));
    list2_->setGeometry(TwipsRect(240, 360, 3330, 1635));

    progressBar1_ = new PercentProgressBar(this);
    progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar1_->setGeometry(TwipsRect(120, 4460, 7800, 405));

    for (QWidget* element : {static_cast<QWidget*>(frame1_), static_cast<QWidget*>(frame2_),
                             static_cast<QWidget*>(list1_), static_cast<QWidget*>(list2_)})
        pointer_->MarkStandard(element);

    // Focus starts in the Sybase ASE list; frames and the progress bar take none.
    setTabOrder(list2_, list1_);
    QWidget* previous = list1_;
    const QFont font = BoldArial(11.25);
    for (const ButtonLayout& layout : kButtons) {
        QWidget* parent = layout.frame == InFrame::MySQL    ? frame1_
                          : layout.frame == InFrame::Sybase ? frame2_
                                                            : static_cast<QWidget*>(this);
        auto* button = new QPushButton(QString::fromLatin1(layout.caption), parent);
        button->setObjectName(QStringLiteral("PushButton%1").arg(layout.number));
        button->setGeometry(TwipsRect(layout.left, layout.top, layout.width, layout.height));
        button->setFont(font);
        pointer_->MarkCustom(button);
        setTabOrder(previous, button);
        previous = button;
        pushButtons_.at(static_cast<std::size_t>(layout.number - 1)) = button;
    }
    list2_->setFocus(Qt::OtherFocusReason);

    const std::pair<int, void (Form2::*)()> handlers[] = {
        {1, &Form2::PushButton1_Click},   {2, &Form2::PushButton2_Click},
        {3, &Form2::PushButton3_Click},   {4, &Form2::PushButton4_Click},
        {5, &Form2::PushButton5_Click},   {6, &Form2::PushButton6_Click},
        {7, &Form2::PushButton7_Click},   {8, &Form2::PushButton8_Click},
        {9, &Form2::PushButton9_Click},   {10, &Form2::PushButton10_Click},
        {11, &Form2::PushButton11_Click}, {12, &Form2::PushButton12_Click},
    };
    for (const auto& [number, handler] : handlers)
        connect(&PushButton(number), &QPushButton::clicked, this, handler);
}

QPushButton& Form2::PushButton(int number) const {
    return *pushButtons_.at(static_cast<std::size_t>(number - 1));
}

void Form2::Form_Load() {
    ErrorTrap trap(Tag("Form_Load"), dialogs_);
    trap.Run(100, [&] { ResetBackColors(this); });
    trap.Run(102, [&] { setWindowIcon(QApplication::windowIcon()); });
    QString handCursor;
    if (trap.If(106, [&] {
            handCursor = HandCursorPath(ProgramFolder());
            return FileExists(handCursor);
        }))
        trap.Run(108, [&] { pointer_->SetCustomCursor(LoadCursorFile(handCursor)); });
    trap.Run(110, [&] { setWindowTitle(kProductName); });
    // The client area is fixed, whatever the window system's title bar and borders.
    trap.Run(112, [&] { setFixedSize(kClientSize); });
}

void Form2::closeEvent(QCloseEvent*) {
    EndProgram();
}

void Form2::SetAllSelected(TableList& list, bool selected, const char* handler) {
    // A transfer reads the selection while it yields; it must not change under it.
    auto running = guard_.Enter();
    if (!running)
        return;
    ErrorTrap trap(Tag(handler), dialogs_);
    trap.For(
        100, [&] { return std::pair<long long, long long>(0, list.Count() - 1); },
        [&](long long i) {
            trap.Run(102, [&] { list.SetSelected(static_cast<int>(i), selected); });
        });
}

void Form2::PushButton10_Click() {
    SetAllSelected(*list1_, true, "PushButton10_Click");
}

void Form2::PushButton11_Click() {
    SetAllSelected(*list1_, false, "PushButton11_Click");
}

void Form2::PushButton8_Click() {
    SetAllSelected(*list2_, true, "PushButton8_Click");
}

void Form2::PushButton9_Click() {
    SetAllSelected(*list2_, false, "PushButton9_Click");
}

void Form2::PushButton2_Click() {
    // Going back while a transfer, drop or rename yields would let "Next >" refill the lists
    // under it.
    if (guard_.Running())
        return;
    ErrorTrap trap(Tag("PushButton2_Click"), dialogs_);
    // Without a window to return to, hiding this one would leave the program running unseen.
    if (!connectionWindow_)
        return;
    trap.Run(100, [&] { connectionWindow_->show(); });
    trap.Run(102, [&] { hide(); });
}

void Form2::PushButton12_Click() {
    ErrorTrap trap(Tag("PushButton12_Click"), dialogs_);
    trap.Run(100, [&] {
        dialogs_.MsgBox(QStringLiteral("Questions? Please contact Team Harnwick at ") +
                        QString::fromLatin1(kContactPage));
    });
}

void Form2::PushButton1_Click() {
    DropSelectedTables(ServerKind::MySQL, "PushButton1_Click",
                       {.open = 108,
                        .check = 110,
                        .noCurrent = 122,
                        .count = 112,
                        .isSelected = 114,
                        .drop = 116,
                        .remove = 118,
                        .normalPointer = 124});
}

void Form2::PushButton5_Click() {
    DropSelectedTables(ServerKind::SybaseASE, "PushButton5_Click",
                       {.open = 104,
                        .check = 106,
                        .noCurrent = 118,
                        .count = 108,
                        .isSelected = 110,
                        .drop = 112,
                        .remove = 114,
                        .normalPointer = 120});
}

void Form2::DropSelectedTables(ServerKind server, const char* handler, const DropSteps& steps) {
    auto running = guard_.Enter();
    if (!running)
        return;
    const bool mysql = server == ServerKind::MySQL;
    TableList& list = mysql ? static_cast<TableList&>(*list1_) : *list2_;
    ErrorTrap trap(Tag(handler), dialogs_);
    std::unique_ptr<Connection> connection;
    trap.Run(100, [&] { connection = std::make_unique<Connection>(); });
    if (!connection)
        return;
    connection->SetCommandTimeout(kDefaultCommandTimeoutSeconds);
    trap.Run(102, [&] { pointer_->SetShape(PointerShape::Busy); });
    if (mysql) {
        trap.Run(104, [&] { connection->SetCursorLocation(CursorLocation::Server); });
    }
    const bool opened = trap.Run(steps.open, [&] {
        const QString connectionString = mysql ? MySQLConnectionString(profiles_.MySQLProfile())
                                               : SybaseConnectionString(profiles_.SybaseProfile());
        connection->Open(connectionString.toStdString());
    });
    if (trap.If(steps.check, [&] { return !list.HasCurrentOrSelected(); }))
        trap.Run(steps.noCurrent,
                 [&] { dialogs_.MsgBox(QStringLiteral("Please select a table")); });
    else
        DropSelectedEntries(trap, list, *connection, opened, server, steps);
    trap.Run(steps.normalPointer, [&] { pointer_->SetShape(PointerShape::Standard); });
}

void Form2::PushButton6_Click() {
    auto running = guard_.Enter();
    if (!running)
        return;
    ErrorTrap trap(Tag("PushButton6_Click"), dialogs_);
    if (trap.If(100, [&] { return list1_->SelectedCount() != 1; })) {
        trap.Run(128, [&] {
            dialogs_.MsgBox(QStringLiteral("Please select just one table to rename."));
        });
        return;
    }
    if (trap.If(102, [&] { return list1_->CurrentIndex() == -1; })) {
        trap.Run(126, [&] { dialogs_.MsgBox(QStringLiteral("Please select a table to rename.")); });
        return;
    }
    trap.Run(104, [&] { pointer_->SetShape(PointerShape::Busy); });
    QString oldName;
    int position = -1;
    trap.For(
        106, [&] { return std::pair<long long, long long>(0, list1_->Count() - 1); },
        [&](long long i) {
            if (trap.If(108, [&] { return list1_->IsSelected(static_cast<int>(i)); })) {
                trap.Run(110, [&] { oldName = list1_->Text(static_cast<int>(i)); });
                trap.Run(112, [&] { position = static_cast<int>(i); });
            }
        });
    QString answer;
    trap.Run(116, [&] {
        answer = dialogs_.AskText(
            QStringLiteral("Enter new name of ") + oldName + QStringLiteral(":"), oldName);
    });
    // An unchanged name renames nothing (the server would refuse it as taken).
    if (!trap.If(118, [&] { return answer.isEmpty() || answer == oldName; })) {
        // The entry changes only once the server has renamed the table, so that the list
        // keeps naming a table that exists.
        const bool renamed = trap.Run(120, [&] {
            if (position < 0 || list1_->Text(position) != oldName)
                throw std::out_of_range("the entry to rename is no longer in the list");
            Connection connection;
            connection.SetCommandTimeout(kDefaultCommandTimeoutSeconds);
            connection.Open(MySQLConnectionString(profiles_.MySQLProfile()).toStdString());
            connection.Execute(MySQLRenameTableStatement(oldName, answer));
            list1_->RemoveItem(position);
        });
        if (renamed)
            trap.Run(122, [&] { list1_->AddItem(answer); });
    }
    trap.Run(124, [&] { pointer_->SetShape(PointerShape::Standard); });
}

void Form2::PushButton7_Click() {
    ErrorTrap trap(Tag("PushButton7_Click"), dialogs_);
    trap.Run(100, [&] { dialogs_.MsgBox(QStringLiteral("Rename not available.")); });
}

} // namespace veltrane
