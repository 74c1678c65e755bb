#include "GuiEvents.h"
#include "GuiTestApplication.h"
#include "PrivateServers.h"
#include "StoredProfiles.h"
#include "TestServers.h"
#include "app/shell/ApplicationTitle.h"
#include "app/shell/Dialogs.h"
#include "app/window/PointerFeedback.h"
#include "catalogue/lists/TableList.h"
#include "connect/ProfileFields.h"
#include "connect/SettingsStore.h"
#include "connect/window/Form1.h"

#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrane {
namespace {

[[maybe_unused]] auto* const kApp =
    ::testing::AddGlobalTestEnvironment(new test::GuiTestApplication);

// Records the window's pointer shape at the moment each box appears.
class PointerRecordingDialogs : public ScriptedDialogs {
public:
    const WindowPointer* pointer = nullptr;
    std::vector<PointerShape> shapes;

    MessageAnswer ShowMessage(const QString& caption, const QString& text, MessageIcon icon,
                              MessageButtons buttons, MessageAnswer defaultAnswer) override {
        shapes.push_back(pointer ? pointer->Shape() : PointerShape::Standard);
        return ScriptedDialogs::ShowMessage(caption, text, icon, buttons, defaultAnswer);
    }
};

// The main window as the connection window sees it, with lists that need no window.
class RecordingMainWindow : public MainWindowHandover {
public:
    MemoryTableList mysql;
    MemoryTableList sybase;
    int shown = 0;
    TableList& MySQLTableList() override { return mysql; }
    TableList& SybaseTableList() override { return sybase; }
    void ShowMainWindow() override { ++shown; }
};

// A loopback port that nothing listens on.
QString ClosedPort() {
    return QString::number(testing::FreeLoopbackPort());
}

// A loopback port that listens but never accepts: a client that tries it is left in the
// queue, where HasKnocked finds it.
class SilentListener {
public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 4);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    QString Port() const { return QString::number(port_); }
    bool HasKnocked() const {
        const int client = ::accept(fd_, nullptr, nullptr);
        if (client < 0)
            return false;
        ::close(client);
        return true;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Types `text` into `field` one key press per character, as the keyboard would (any Unicode).
void Type(QWidget* field, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(field, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(field, &release);
    }
}

// The settings key of field Text<number>.
QString KeyOfField(int number) {
    for (const ProfileField& field : kProfileFields) {
        if (field.number == number)
            return QString::fromLatin1(field.key);
    }
    ADD_FAILURE() << "no field Text" << number;
    return QString();
}

struct ConnectionWindowFixture : ::testing::Test {
    QTemporaryDir configDir;
    SettingsStore store{configDir.path()};
    PointerRecordingDialogs dialogs;
    RecordingMainWindow mainWindow;
    std::unique_ptr<Form1> form;

    void SetUp() override { MakeForm(configDir.path()); }

    void MakeForm(const QString& programFolder) {
        form = std::make_unique<Form1>(dialogs, store, programFolder);
        form->SetMainWindow(&mainWindow);
        dialogs.pointer = &form->Pointer();
    }

    template <class T = QWidget> T* Control(const char* name) const {
        T* control = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QLineEdit* Field(int number) const {
        return Control<QLineEdit>(QStringLiteral("Text%1").arg(number).toLatin1().constData());
    }
    QPushButton* Button(int number) const {
        return Control<QPushButton>(
            QStringLiteral("PushButton%1").arg(number).toLatin1().constData());
    }
    // What the settings file on disk holds, read afresh.
    QVariant OnDisk(const QString& key) const {
        QSettings file(store.FilePath(kSettingsApplication), QSettings::IniFormat);
        return file.value(kSettingsSection + QLatin1Char('/') + key);
    }
    mode_t FileMode() const {
        const QByteArray path = QFile::encodeName(store.FilePath(kSettingsApplication));
        struct stat info {};
        EXPECT_EQ(::stat(path.constData(), &info), 0);
        return info.st_mode & 07777;
    }
    void Store(const QString& key, const QString& value) {
        store.SaveSetting(kSettingsApplication, kSettingsSection, key, value);
    }
    // Nothing listens on the MySQL side, so a load stops after its first test.
    void MakeMySQLUnreachable() {
        Store(QStringLiteral("MySQLServer"), QStringLiteral("127.0.0.1"));
        Store(QStringLiteral("MySQLPort"), ClosedPort());
    }
    void StoreProfiles(const ConnectionProfile& sybase, const ConnectionProfile& mysql) {
        testing::StoreProfiles(store, sybase, mysql);
    }
};

using ConnectionWindowLayoutTest = ConnectionWindowFixture;

TEST_F(ConnectionWindowLayoutTest, EveryControlAtItsPlaceWithItsCaptionAndFont) {
    struct Placed {
        const char* name;
        const char* parent;
        QRect geometry; // labels: width not fixed, compared on position and height
        const char* caption;
    };
    const Placed table[] = {
        {"Frame2", "Form1", {8, 8, 520, 190}, "Sybase ASE Database"},
        {"Text1", "Frame2", {96, 24, 297, 23}, nullptr},
        {"Label2", "Frame2", {16, 27, 0, 17}, "Server:"},
        {"Text2", "Frame2", {440, 24, 65, 23}, nullptr},
        {"Label6", "Frame2", {408, 27, 0, 17}, "Port:"},
        {"Text3", "Frame2", {96, 56, 409, 23}, nullptr},
        {"Label1", "Frame2", {16, 59, 0, 17}, "User:"},
        {"Text4", "Frame2", {96, 88, 409, 23}, nullptr},
        {"Label3", "Frame2", {16, 91, 0, 17}, "Password:"},
        {"Text5", "Frame2", {96, 120, 409, 23}, nullptr},
        {"Label4", "Frame2", {16, 123, 0, 17}, "Database:"},
        {"PushButton2", "Frame2", {16, 152, 240, 27}, "Test Connection"},
        {"PushButton3", "Frame2", {264, 152, 240, 27}, "Help"},
        {"Frame3", "Form1", {8, 204, 520, 191}, "MySQL Login"},
        {"Text6", "Frame3", {88, 24, 305, 23}, nullptr},
        {"Label9", "Frame3", {16, 27, 0, 17}, "Server:"},
        {"Text10", "Frame3", {440, 24, 65, 23}, nullptr},
        {"Label5", "Frame3", {408, 27, 0, 17}, "Port:"},
        {"Text7", "Frame3", {88, 56, 417, 23}, nullptr},
        {"Label10", "Frame3", {16, 59, 0, 17}, "Username:"},
        {"Text8", "Frame3", {88, 88, 417, 23}, nullptr},
        {"Label7", "Frame3", {16, 91, 0, 17}, "Password:"},
        {"Text9", "Frame3", {88, 120, 417, 23}, nullptr},
        {"Label8", "Frame3", {16, 123, 0, 17}, "Database:"},
        {"PushButton6", "Frame3", {16, 152, 240, 27}, "Test Connection"},
        {"PushButton5", "Frame3", {264, 152, 240, 27}, "Help"},
        {"PushButton4", "Form1", {8, 403, 520, 27}, "Next >"},
    };
    for (const Placed& row : table) {
        SCOPED_TRACE(row.name);
        QWidget* control = Control(row.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->parentWidget()->objectName(), QString::fromLatin1(row.parent));
        if (auto* label = qobject_cast<QLabel*>(control)) {
            EXPECT_EQ(label->geometry().topLeft(), row.geometry.topLeft());
            EXPECT_EQ(label->height(), row.geometry.height());
            EXPECT_EQ(label->text(), QString::fromLatin1(row.caption));
            // The caption fits beside its field.
            EXPECT_GE(label->width(), label->sizeHint().width());
        } else {
            EXPECT_EQ(control->geometry(), row.geometry);
        }
        if (auto* frame = qobject_cast<QGroupBox*>(control)) {
            EXPECT_EQ(frame->title(), QString::fromLatin1(row.caption));
        }
        const bool isButton = qobject_cast<QPushButton*>(control) != nullptr;
        if (isButton) {
            EXPECT_EQ(static_cast<QPushButton*>(control)->text(), QString::fromLatin1(row.caption));
        }
        const QFont font = control->font();
        EXPECT_EQ(font.family(), QStringLiteral("Arial"));
        EXPECT_TRUE(font.bold());
        EXPECT_DOUBLE_EQ(font.pointSizeF(), isButton ? 11.25 : 9.0);
    }

    // Fixed size, no maximize, centred on the screen.
    EXPECT_EQ(form->size(), QSize(536, 439));
    EXPECT_EQ(form->minimumSize(), QSize(536, 439));
    EXPECT_EQ(form->maximumSize(), QSize(536, 439));
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowCloseButtonHint);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((form->geometry().center() - screen.center()).manhattanLength(), 1);
}

TEST_F(ConnectionWindowLayoutTest, TabGoesThroughSybaseThenMySQLThenNextAndSelectsWholeText) {
    for (int number = 1; number <= 10; ++number)
        Field(number)->setText(QStringLiteral("value %1").arg(number));
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    Field(1)->setFocus(Qt::TabFocusReason);

    const QStringList expected = {
        QStringLiteral("Text1"),       QStringLiteral("Text2"),       QStringLiteral("Text3"),
        QStringLiteral("Text4"),       QStringLiteral("Text5"),       QStringLiteral("PushButton2"),
        QStringLiteral("PushButton3"), QStringLiteral("Text6"),       QStringLiteral("Text10"),
        QStringLiteral("Text7"),       QStringLiteral("Text8"),       QStringLiteral("Text9"),
        QStringLiteral("PushButton6"), QStringLiteral("PushButton5"), QStringLiteral("PushButton4"),
        QStringLiteral("Text1")};
    QStringList visited;
    for (int step = 0; step < expected.size(); ++step) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        visited << focused->objectName();
        if (auto* field = qobject_cast<QLineEdit*>(focused)) {
            EXPECT_EQ(field->selectionStart(), 0) << field->objectName().toStdString();
            EXPECT_EQ(field->selectedText(), field->text()) << field->objectName().toStdString();
        }
        QTest::keyClick(focused, Qt::Key_Tab);
    }
    EXPECT_EQ(visited, expected);

    // Focus that arrives by other means selects the whole text too.
    Field(7)->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(Field(7)->selectedText(), QStringLiteral("value 7"));
}

TEST_F(ConnectionWindowLayoutTest, PasswordFieldsShowOneStarPerCharacterAndKeepThePlainText) {
    for (int number : {4, 8}) {
        SCOPED_TRACE(number);
        Type(Field(number), QStringLiteral("pä;ss"));
        EXPECT_EQ(Field(number)->displayText(), QStringLiteral("*****"));
        EXPECT_EQ(Field(number)->text(), QStringLiteral("pä;ss"));
    }
    EXPECT_EQ(form->SybaseProfile().Password, QStringLiteral("pä;ss"));
    EXPECT_EQ(form->MySQLProfile().Password, QStringLiteral("pä;ss"));
    // The other fields show what was typed.
    Type(Field(3), QStringLiteral("sa"));
    EXPECT_EQ(Field(3)->displayText(), QStringLiteral("sa"));
}

TEST_F(ConnectionWindowLayoutTest, PointerIsAHandOverButtonsAndStaysBusyWhileBusy) {
    // The hand-cursor file beside the program gives the custom shape its image.
    QTemporaryDir programFolder;
    ASSERT_TRUE(QFile::copy(QStringLiteral(VELTRANE_HAND_CURSOR),
                            programFolder.filePath(QStringLiteral("HAND-M.CUR"))));
    MakeForm(programFolder.path());
    MakeMySQLUnreachable();
    form->Form_Load();
    ASSERT_TRUE(dialogs.shown().empty());
    ASSERT_TRUE(form->Pointer().HasCustomCursor());
    form->show();

    const PointerShape unchanged = PointerShape::Busy; // stands for "no handler"
    const std::pair<const char*, PointerShape> table[] = {
        {"PushButton4", PointerShape::Custom},
        {"Form1", PointerShape::Standard},
        {"PushButton2", PointerShape::Custom},
        {"Frame2", PointerShape::Standard},
        {"PushButton3", PointerShape::Custom},
        {"Frame3", PointerShape::Standard},
        {"PushButton5", PointerShape::Custom},
        {"Text1", PointerShape::Standard},
        {"PushButton6", PointerShape::Custom},
        {"Text5", PointerShape::Standard},
        {"PushButton4", PointerShape::Custom},
        {"Label2", unchanged},
        {"Text10", unchanged},
        {"Text9", PointerShape::Standard},
        {"PushButton2", PointerShape::Custom},
        {"Text10", unchanged},
        {"Label5", unchanged},
        {"Text6", PointerShape::Standard},
    };
    PointerShape expected = PointerShape::Standard;
    for (const auto& [name, shape] : table) {
        SCOPED_TRACE(name);
        QWidget* element =
            QString::fromLatin1(name) == form->objectName() ? form.get() : Control(name);
        test::MoveOver(element, QPoint(1, 1));
        if (shape != unchanged)
            expected = shape;
        EXPECT_EQ(form->Pointer().Shape(), expected);
        // The hand cursor file was there, so the custom shape shows its image.
        EXPECT_EQ(form->cursor().shape(),
                  expected == PointerShape::Custom ? Qt::BitmapCursor : Qt::ArrowCursor);
    }

    // While an operation has the window busy, moves change nothing.
    form->Pointer().SetShape(PointerShape::Busy);
    for (const char* name : {"PushButton4", "Text1", "Frame2"}) {
        test::MoveOver(Control(name), QPoint(1, 1));
        EXPECT_EQ(form->Pointer().Shape(), PointerShape::Busy) << name;
    }
    EXPECT_EQ(form->cursor().shape(), Qt::WaitCursor);
}

using ConnectionWindowSettingsTest = ConnectionWindowFixture;

TEST_F(ConnectionWindowSettingsTest, EveryKeystrokeReachesTheFileAtOnceOwnerOnly) {
    const QString typed = QStringLiteral("a;b= \"ü\\");
    for (int number = 1; number <= 10; ++number) {
        SCOPED_TRACE(number);
        QLineEdit* field = Field(number);
        field->clear();
        QString soFar;
        for (QChar c : typed) {
            Type(field, QString(c));
            soFar += c;
            EXPECT_EQ(OnDisk(KeyOfField(number)).toString(), soFar);
        }
        QTest::keyClick(field, Qt::Key_Backspace);
        soFar.chop(1);
        EXPECT_EQ(OnDisk(KeyOfField(number)).toString(), soFar);
    }
    // Clearing a field stores the empty text, which a later load keeps (no default).
    Field(10)->clear();
    EXPECT_EQ(OnDisk(QStringLiteral("MySQLPort")), QVariant(QString()));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(store.FilePath(kSettingsApplication)).constData(), &info),
              0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    MakeForm(configDir.path());
    form->Form_Load();
    EXPECT_EQ(Field(10)->text(), QString());
    EXPECT_EQ(Field(1)->text(), typed.chopped(1));
    EXPECT_EQ(FileMode(), 0600u);
}

TEST_F(ConnectionWindowSettingsTest, LoadMakesAnOlderFileOwnerOnlyEvenWhenNoFieldChanges) {
    MakeMySQLUnreachable();
    form->Form_Load();
    for (const mode_t olderMode : {0644, 0666, 0604}) {
        SCOPED_TRACE(olderMode);
        ASSERT_EQ(
            ::chmod(QFile::encodeName(store.FilePath(kSettingsApplication)).constData(), olderMode),
            0);
        // The fields already show what the file holds, so the load saves nothing.
        form->Form_Load();
        EXPECT_EQ(FileMode(), 0600u);
    }
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(ConnectionWindowSettingsTest, EmptyStoreLoadsTheDefaultsAndWritesThemBack) {
    // An empty store leaves the Sybase ASE server empty, so the load never reaches Next.
    ASSERT_FALSE(QFile::exists(store.FilePath(kSettingsApplication)));

    form->Form_Load();
    const QString expected[] = {QString(), QStringLiteral("5000"),      QString(), QString(),
                                QString(), QStringLiteral("localhost"), QString(), QString(),
                                QString(), QStringLiteral("3306")};
    for (int number = 1; number <= 10; ++number) {
        SCOPED_TRACE(number);
        EXPECT_EQ(Field(number)->text(), expected[number - 1]);
        const QVariant stored = OnDisk(KeyOfField(number));
        // Filling a field is a change, so the non-empty defaults are written; empty ones are not.
        EXPECT_EQ(stored.isValid(), !expected[number - 1].isEmpty());
        if (stored.isValid()) {
            EXPECT_EQ(stored.toString(), expected[number - 1]);
        }
    }
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Veltrane"));
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_TRUE(dialogs.shown().empty());
    // No hand-cursor file beside the program: the custom shape looks like the arrow.
    EXPECT_FALSE(form->Pointer().HasCustomCursor());
}

using ConnectionWindowHelpTest = ConnectionWindowFixture;

TEST_F(ConnectionWindowHelpTest, HelpTextsByteForByte) {
    const QString sybase =
        QStringLiteral("This is how I was able to make a Sybase ASE connection: \r\r"
                       "I purchased\r\r"
                       "Sybase Adaptive Server Enterprise \u2013 Developer's Edition\r\r"
                       "via www.sybase.com\r\r"
                       "and downloaded the Sybase 15.01 Client\r\r"
                       "specifically\r\r"
                       "ase1501clientwin32.zip\r\r"
                       "Make sure you select Custom instead of Typical and Full and make sure\r\r"
                       "ASE Data Providers (ASE ODBC Driver)\r\r"
                       "are installed during the client installation.\r\r");
    const QString mysql = QStringLiteral(
        "If you cannot establish connection to your database with this program, please go to: "
        "\r\rhttp://dev.mysql.com/downloads/gui-tools/5.0.html\r\r"
        "Download and install the MySQL GUI Tools. Use the MySQL Query Browser. Try to connect to "
        "the same database (with the same login information you are using here). This will "
        "determine if the login you are using is correct.\r\r"
        " Finally, make sure your host allows a direct connection to your MySQL database -- not a "
        "web based connection, for example.");
    struct Case {
        int button;
        QString text;
    };
    for (const Case& c : {Case{3, sybase}, Case{5, mysql}}) {
        SCOPED_TRACE(c.button);
        dialogs.clear();
        Button(c.button)->click();
        ASSERT_EQ(dialogs.shown().size(), 1u);
        const ScriptedDialogs::Shown& box = dialogs.shown().front();
        EXPECT_EQ(box.text.toUtf8(), c.text.toUtf8());
        EXPECT_EQ(box.caption, ApplicationTitle());
        EXPECT_EQ(box.icon, MessageIcon::None);
        EXPECT_EQ(box.buttons, MessageButtons::Ok);
    }
}

// Against the servers that scripts/test starts.
using ConnectionWindowServersTest = ConnectionWindowFixture;

TEST_F(ConnectionWindowServersTest, TestConnectionMessagesShownWhileBusy) {
    VELTRANE_REQUIRE_MYSQL(mysql);
    VELTRANE_REQUIRE_SYBASE(sybase);
    const QString success = QStringLiteral("Connection successful.");
    const QString sybaseFailed =
        QStringLiteral("Could not connect. Please check with your administrator.");
    const QString mysqlFailed =
        sybaseFailed + QStringLiteral(" Make sure you are allowed to connect to your database "
                                      "remotely and not just through web-based control panels.");
    ConnectionProfile unreachable{QStringLiteral("127.0.0.1"), ClosedPort(), QStringLiteral("u"),
                                  QStringLiteral("p"), QStringLiteral("d")};
    ConnectionProfile wrongPassword = mysql.Profile();
    wrongPassword.Password += QStringLiteral("x");
    struct Case {
        const char* what;
        ConnectionProfile sybase;
        ConnectionProfile mysql;
        int button;
        QString message;
    };
    std::vector<Case> cases = {
        {"Sybase ASE reachable", sybase.Profile(), unreachable, 2, success},
        {"Sybase ASE unreachable", unreachable, mysql.Profile(), 2, sybaseFailed},
        {"MySQL reachable", unreachable, mysql.Profile(), 6, success},
        {"MySQL unreachable", sybase.Profile(), unreachable, 6, mysqlFailed},
        {"MySQL wrong password", sybase.Profile(), wrongPassword, 6, mysqlFailed},
    };
    // A MySQL port left empty is MySQL's own 3306, where a relay to the test server listens;
    // a Sybase ASE port left empty stays a failure.
    std::unique_ptr<testing::SilencingRelay> at3306;
    try {
        at3306 = std::make_unique<testing::SilencingRelay>(std::stoi(mysql.port), 3306);
    } catch (const std::runtime_error& e) {
        std::cout << "not tried, an empty MySQL port: " << e.what() << "\n";
    }
    ConnectionProfile noPort = mysql.Profile();
    noPort.Port.clear();
    if (at3306)
        cases.push_back({"MySQL port left empty", unreachable, noPort, 6, success});
    ConnectionProfile noSybasePort = sybase.Profile();
    noSybasePort.Port.clear();
    cases.push_back({"Sybase ASE port left empty", noSybasePort, mysql.Profile(), 2, sybaseFailed});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StoreProfiles(c.sybase, c.mysql);
        MakeForm(configDir.path());
        form->Form_Load(); // one side fails, so the load stays in this window
        dialogs.clear();
        dialogs.shapes.clear();
        Button(c.button)->click();
        ASSERT_EQ(dialogs.texts(), std::vector<QString>{c.message});
        EXPECT_EQ(dialogs.shown().front().caption, ApplicationTitle());
        EXPECT_EQ(dialogs.shown().front().icon, MessageIcon::None);
        EXPECT_EQ(dialogs.shapes, std::vector<PointerShape>{PointerShape::Busy});
        EXPECT_EQ(form->Pointer().Shape(), PointerShape::Standard);
        EXPECT_EQ(mainWindow.shown, 0);
    }
}

TEST_F(ConnectionWindowServersTest, StartUpOpensTheMainWindowOnlyWhenBothServersOpen) {
    VELTRANE_REQUIRE_MYSQL(mysql);
    VELTRANE_REQUIRE_SYBASE(sybase);
    ConnectionProfile unreachable{QStringLiteral("127.0.0.1"), ClosedPort(), QString(), QString(),
                                  QString()};
    struct Case {
        const char* what;
        ConnectionProfile sybase;
        ConnectionProfile mysql;
        bool mainWindow;
    };
    const Case cases[] = {
        {"both", sybase.Profile(), mysql.Profile(), true},
        {"MySQL only", unreachable, mysql.Profile(), false},
        {"Sybase ASE only", sybase.Profile(), unreachable, false},
        {"neither", unreachable, unreachable, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StoreProfiles(c.sybase, c.mysql);
        mainWindow = RecordingMainWindow();
        mainWindow.mysql.AddItem(QStringLiteral("stale entry"));
        MakeForm(configDir.path());
        form->Start();
        EXPECT_TRUE(dialogs.shown().empty());
        EXPECT_EQ(mainWindow.shown, c.mainWindow ? 1 : 0);
        EXPECT_EQ(form->isVisible(), !c.mainWindow);
        EXPECT_EQ(form->Pointer().Shape(), PointerShape::Standard);
        // The lists are filled afresh only on the way to the main window.
        EXPECT_EQ(mainWindow.mysql.Texts().contains(QStringLiteral("stale entry")), !c.mainWindow);
        form->hide();
    }
}

TEST_F(ConnectionWindowServersTest, NextWithMySQLUnreachableNeverTriesSybase) {
    VELTRANE_REQUIRE_MYSQL(mysql);
    SilentListener sybaseSide;
    ConnectionProfile sybase{QStringLiteral("127.0.0.1"), sybaseSide.Port(), QStringLiteral("sa"),
                             QString(), QStringLiteral("db")};
    ConnectionProfile mysqlDown = mysql.Profile();
    mysqlDown.Port = ClosedPort();
    StoreProfiles(sybase, mysqlDown);
    form->Form_Load();
    mainWindow.mysql.AddItem(QStringLiteral("kept"));
    Button(4)->click();
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_FALSE(sybaseSide.HasKnocked());
    EXPECT_EQ(mainWindow.shown, 0);
    EXPECT_EQ(mainWindow.mysql.Texts(), QStringList{QStringLiteral("kept")});
    EXPECT_EQ(form->Pointer().Shape(), PointerShape::Standard);

    // MySQL up, Sybase ASE down: nothing shown, both lists untouched.
    Field(10)->setText(mysql.Profile().Port);
    Field(2)->setText(ClosedPort());
    Button(4)->click();
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(mainWindow.shown, 0);
    EXPECT_EQ(mainWindow.mysql.Texts(), QStringList{QStringLiteral("kept")});
}

} // namespace
} // namespace veltrane
