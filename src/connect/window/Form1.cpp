#include "connect/window/Form1.h"

#include "app/shell/ApplicationTitle.h"
#include "app/shell/Dialogs.h"
#include "app/shell/EndProgram.h"
#include "app/shell/ErrorTrap.h"
#include "app/shell/ProgramFiles.h"
#include "app/shell/Yield.h"
#include "app/window/ApplicationIcon.h"
#include "app/window/PointerFeedback.h"
#include "app/window/WindowProcedures.h"
#include "catalogue/TableCatalogue.h"
#include "connect/Connection.h"
#include "connect/ConnectionTests.h"
#include "connect/ProfileFields.h"
#include "connect/SettingsStore.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace veltrane {

namespace {
const QString kWindowName = QStringLiteral("Form1");

// Where a field sits in its server's frame, and its label.
struct FieldPlace {
    QRect geometry;
    int label; // number of the label beside it
    const char* caption;
    QPoint labelAt;
};

// Text1..Text10 in number order.
const std::array<FieldPlace, 10> kFieldPlaces{{
    {{96, 24, 297, 23}, 2, "Server:", {16, 27}},
    {{440, 24, 65, 23}, 6, "Port:", {408, 27}},
    {{96, 56, 409, 23}, 1, "User:", {16, 59}},
    {{96, 88, 409, 23}, 3, "Password:", {16, 91}},
    {{96, 120, 409, 23}, 4, "Database:", {16, 123}},
    {{88, 24, 305, 23}, 9, "Server:", {16, 27}},
    {{88, 56, 417, 23}, 10, "Username:", {16, 59}},
    {{88, 88, 417, 23}, 7, "Password:", {16, 91}},
    {{88, 120, 417, 23}, 8, "Database:", {16, 123}},
    {{440, 24, 65, 23}, 5, "Port:", {408, 27}},
}};

constexpr int kLabelHeight = 17;

const QString kMySQLHelpAddress =
    QStringLiteral("http://dev.mysql.com/downloads/gui-tools/5.0.html");
const QString kSybaseVendorDomain = QStringLiteral("www.sybase.com");

const QString kBreak = QStringLiteral("\r\r");

QString SybaseHelpText() {
    const QString pieces[] = {
        QStringLiteral("This is how I was able to make a Sybase ASE connection: "),
        QStringLiteral("I purchased"),
        QStringLiteral("Sybase Adaptive Server Enterprise \u2013 Developer's Edition"),
        QStringLiteral("via ") + kSybaseVendorDomain,
        QStringLiteral("and downloaded the Sybase 15.01 Client"),
        QStringLiteral("specifically"),
        QStringLiteral("ase1501clientwin32.zip"),
        QStringLiteral("Make sure you select Custom instead of Typical and Full and make sure"),
        QStringLiteral("ASE Data Providers (ASE ODBC Driver)"),
        QStringLiteral("are installed during the client installation."),
    };
    QString text;
    for (const QString& piece : pieces)
        text += piece + kBreak;
    return text;
}

QString MySQLHelpText() {
    return QStringLiteral("If you cannot establish connection to your database with this program, "
                          "please go to: ") +
           kBreak + kMySQLHelpAddress + kBreak +
           QStringLiteral("Download and install the MySQL GUI Tools. Use the MySQL Query Browser. "
                          "Try to connect to ") +
           QStringLiteral("the same database (with the same login information you are using "
                          "here). This will determine if ") +
           QStringLiteral("the login you are using is correct.") + kBreak +
           QStringLiteral(" Finally, make sure your host allows a direct connection to your MySQL "
                          "database -- not a web based connection, for example.");
}

// The profile of `server` as its fields (Text1..Text10 in number order) stand.
ConnectionProfile ProfileInFields(const std::array<QLineEdit*, 10>& fields, ServerKind server) {
    ConnectionProfile profile;
    for (const ProfileField& field : kProfileFields) {
        if (field.server == server)
            profile.*field.member = fields[field.number - 1]->text();
    }
    return profile;
}

// Typing replaces the value: a field that receives the focus selects its whole text.
class SelectAllOnFocus : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn)
            static_cast<QLineEdit*>(watched)->selectAll();
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

Form1::Form1(Dialogs& dialogs, SettingsStore& settings, QString programFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint)
    , dialogs_(dialogs)
    , settings_(settings)
    , programFolder_(std::move(programFolder)) {
    setObjectName(kWindowName);
    setFont(BoldArial(9));
    setFixedSize(536, 439);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
    pointer_ = new WindowPointer(this);
    CreateControls();
    SetTabOrder();
    MarkPointerElements();
    ConnectHandlers();
}

Form1::~Form1() = default;

void Form1::CreateControls() {
    Frame2 = new QGroupBox(QStringLiteral("Sybase ASE Database"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setGeometry(8, 8, 520, 190);
    Frame3 = new QGroupBox(QStringLiteral("MySQL Login"), this);
    Frame3->setObjectName(QStringLiteral("Frame3"));
    Frame3->setGeometry(8, 204, 520, 191);

    auto* selectAll = new SelectAllOnFocus(this);
    for (const ProfileField& profileField : kProfileFields) {
        const FieldPlace& place = kFieldPlaces[profileField.number - 1];
        QGroupBox* frame = profileField.server == ServerKind::SybaseASE ? Frame2 : Frame3;
        QLineEdit* field = new QLineEdit(frame);
        field->setObjectName(profileField.FieldName());
        field->setGeometry(place.geometry);
        field->installEventFilter(selectAll);
        if (profileField.password) {
            field->setEchoMode(QLineEdit::Password);
            // One '*' per character, not the style's bullet.
            field->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
        }
        Text[profileField.number - 1] = field;

        QLabel* label = new QLabel(QString::fromLatin1(place.caption), frame);
        label->setObjectName(QStringLiteral("Label%1").arg(place.label));
        label->setGeometry(place.labelAt.x(), place.labelAt.y(),
                           place.geometry.x() - place.labelAt.x(), kLabelHeight);
        Label[place.label - 1] = label;
    }

    auto makeButton = [this](const char* name, const QString& caption, QWidget* parent,
                             QRect geometry) {
        auto* button = new QPushButton(caption, parent);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(geometry);
        button->setFont(BoldArial(11.25));
        button->setAutoDefault(false);
        return button;
    };
    const QString testCaption = QStringLiteral("Test Connection");
    const QString helpCaption = QStringLiteral("Help");
    PushButton2 = makeButton("PushButton2", testCaption, Frame2, {16, 152, 240, 27});
    PushButton3 = makeButton("PushButton3", helpCaption, Frame2, {264, 152, 240, 27});
    PushButton6 = makeButton("PushButton6", testCaption, Frame3, {16, 152, 240, 27});
    PushButton5 = makeButton("PushButton5", helpCaption, Frame3, {264, 152, 240, 27});
    PushButton4 = makeButton("PushButton4", QStringLiteral("Next >"), this, {8, 403, 520, 27});
}

// The Sybase ASE frame's fields as they read from top left, its buttons, then the MySQL
// frame's, then "Next >".
void Form1::SetTabOrder() {
    using Profile = ConnectionProfile;
    constexpr QString Profile::*kReadingOrder[] = {&Profile::Server, &Profile::Port, &Profile::User,
                                                   &Profile::Password, &Profile::Database};
    const std::tuple<ServerKind, QPushButton*, QPushButton*> frames[] = {
        {ServerKind::SybaseASE, PushButton2, PushButton3},
        {ServerKind::MySQL, PushButton6, PushButton5},
    };
    std::vector<QWidget*> order;
    for (const auto& [server, testButton, helpButton] : frames) {
        for (QString Profile::*member : kReadingOrder)
            order.push_back(Text[ProfileFieldOf(server, member).number - 1]);
        order.push_back(testButton);
        order.push_back(helpButton);
    }
    order.push_back(PushButton4);
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void Form1::MarkPointerElements() {
    pointer_->MarkStandard(this);
    pointer_->MarkStandard(Frame2);
    pointer_->MarkStandard(Frame3);
    for (const ProfileField& field : kProfileFields) {
        if (field.standardPointer)
            pointer_->MarkStandard(Text[field.number - 1]);
    }
    for (QPushButton* button : {PushButton2, PushButton3, PushButton4, PushButton5, PushButton6})
        pointer_->MarkCustom(button);
}

void Form1::ConnectHandlers() {
    for (const ProfileField& field : kProfileFields) {
        // Every change is one write, whatever caused it: nothing is lost if the program is
        // killed a moment later.
        const QString key = QString::fromLatin1(field.key);
        connect(Text[field.number - 1], &QLineEdit::textChanged, this,
                [this, key](const QString& text) {
                    settings_.SaveSetting(kSettingsApplication, kSettingsSection, key, text);
                });
    }
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
}

ConnectionProfile Form1::SybaseProfile() const {
    return ProfileInFields(Text, ServerKind::SybaseASE);
}

ConnectionProfile Form1::MySQLProfile() const {
    return ProfileInFields(Text, ServerKind::MySQL);
}

void Form1::Start() {
    handedOver_ = false;
    Form_Load();
    if (!handedOver_)
        show();
}

void Form1::Form_Load() {
    ErrorTrap trap(LocationTag(kWindowName, QStringLiteral("Form_Load")), dialogs_);
    trap.Run(100, [&] { ApplySkin(this, programFolder_); });
    trap.Run(104, [&] { setWindowTitle(kProductName); });
    trap.Run(104, [&] { setWindowIcon(ApplicationIcon()); });
    trap.Run(104, [&] { SetApplicationTitle(); });
    const QString handCursor = HandCursorPath(programFolder_);
    if (trap.If(124, [&] { return FileExists(handCursor); }))
        trap.Run(126, [&] { pointer_->SetCustomCursor(LoadCursorFile(handCursor)); });
    // The file holds both passwords: an older one made readable by others is closed first.
    settings_.KeepPrivate(kSettingsApplication);
    for (std::size_t i = 0; i < kProfileFields.size(); ++i) {
        const ProfileField& field = kProfileFields[i];
        trap.Run(128 + 2 * static_cast<unsigned>(i), [&] {
            Text[field.number - 1]->setText(settings_.GetSetting(
                kSettingsApplication, kSettingsSection, QString::fromLatin1(field.key),
                QString::fromLatin1(field.defaultValue)));
        });
    }
    if (!trap.If(148, [&] { return TestMySQLConnection(MySQLProfile()); }))
        return;
    if (!trap.If(150, [&] { return TestSybaseConnection(SybaseProfile()); }))
        return;
    trap.Run(152, [&] { PushButton4_Click(); });
}

void Form1::PushButton4_Click() {
    auto running = guard_.Enter();
    if (!running)
        return;
    ErrorTrap trap(LocationTag(kWindowName, QStringLiteral("PushButton4_Click")), dialogs_);
    trap.Run(100, [&] { pointer_->SetShape(PointerShape::Busy); });
    if (trap.If(102, [&] { return TestMySQLConnection(MySQLProfile()); }) &&
        trap.If(104, [&] { return TestSybaseConnection(SybaseProfile()); })) {
        trap.Run(106, [&] { ListMySQLTables(MainWindow().MySQLTableList(), MySQLProfile()); });
        trap.Run(108, [&] { ListSybaseTables(MainWindow().SybaseTableList(), SybaseProfile()); });
        trap.Run(110, [&] { MainWindow().ShowMainWindow(); });
        trap.Run(112, [&] {
            hide();
            handedOver_ = true;
        });
    }
    trap.Run(114, [&] { pointer_->SetShape(PointerShape::Standard); });
}

MainWindowHandover& Form1::MainWindow() const {
    if (!mainWindow_)
        throw std::logic_error("the main window is not available");
    return *mainWindow_;
}

void Form1::PushButton2_Click() {
    TestConnection(QStringLiteral("PushButton2_Click"), ServerKind::SybaseASE);
}

void Form1::PushButton6_Click() {
    TestConnection(QStringLiteral("PushButton6_Click"), ServerKind::MySQL);
}

void Form1::TestConnection(const QString& handler, ServerKind server) {
    auto running = guard_.Enter();
    if (!running)
        return;
    ErrorTrap trap(LocationTag(kWindowName, handler), dialogs_);
    std::unique_ptr<Connection> connection;
    trap.Run(100, [&] { connection = std::make_unique<Connection>(); });
    // From here a failure is the failed connection's message, never the error report.
    try {
        pointer_->SetShape(PointerShape::Busy);
        ProgramYielder().YieldNow(); // the busy pointer shows before the connection waits
        if (!connection)
            throw std::logic_error("no connection object");
        const QString connectionString = server == ServerKind::SybaseASE
                                             ? SybaseConnectionString(SybaseProfile())
                                             : MySQLConnectionString(MySQLProfile());
        connection->Open(connectionString.toStdString());
        dialogs_.MsgBox(QStringLiteral("Connection successful."));
        pointer_->SetShape(PointerShape::Standard);
    } catch (...) {
        const QString couldNot =
            QStringLiteral("Could not connect. Please check with your administrator.");
        dialogs_.MsgBox(server == ServerKind::SybaseASE
                            ? couldNot
                            : couldNot +
                                  QStringLiteral(" Make sure you are allowed to connect to your "
                                                 "database remotely and not just through "
                                                 "web-based control panels."));
        pointer_->SetShape(PointerShape::Standard);
    }
}

void Form1::PushButton3_Click() {
    ShowHelp(QStringLiteral("PushButton3_Click"), SybaseHelpText(), 124);
}

void Form1::PushButton5_Click() {
    ShowHelp(QStringLiteral("PushButton5_Click"), MySQLHelpText(), 114);
}

void Form1::ShowHelp(const QString& handler, const QString& text, unsigned line) {
    ErrorTrap trap(LocationTag(kWindowName, handler), dialogs_);
    trap.Run(line, [&] { dialogs_.MsgBox(text); });
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    EndProgram();
}

} // namespace veltrane
