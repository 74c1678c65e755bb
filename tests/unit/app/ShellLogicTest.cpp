#include "app/shell/ApplicationTitle.h"
#include "app/shell/Dialogs.h"
#include "app/shell/OperationGuard.h"
#include "app/shell/ProgramFiles.h"
#include "app/shell/Yield.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace veltrane {
namespace {

TEST(ApplicationTitleTest, LongNameOfWordsIsCutBeforeABlankToFortyOrLess) {
    // 50 characters; the cut before "Sybase" leaves 41, so a second cut is needed.
    const QString name = QStringLiteral("Harnwick Table Copier Between MySQL And Sybase ASE");
    ASSERT_EQ(name.size(), 50);
    EXPECT_EQ(ShortenedTitle(name), QStringLiteral("Harnwick Table Copier Between MySQL And"));
    EXPECT_EQ(ShortenedTitle(QStringLiteral("Aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa Bbbbbbbbbb")),
              QStringLiteral("Aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"));
}

TEST(ApplicationTitleTest, ShortNameWithOneBlankStillLosesItsLastWord) {
    const QString name = QStringLiteral("Veltrane Table Tool!");
    ASSERT_EQ(name.size(), 20);
    EXPECT_EQ(ShortenedTitle(name), QStringLiteral("Veltrane Table"));
    EXPECT_EQ(ShortenedTitle(QStringLiteral("Veltrane Copier12345")), QStringLiteral("Veltrane"));
}

TEST(ApplicationTitleTest, LengthCountsCharactersNotCodeUnits) {
    QString word;
    for (int i = 0; i < 40; ++i)
        word += QString::fromUcs4(U"\U0001F600");
    EXPECT_EQ(ShortenedTitle(word + QStringLiteral(" tail")), word);
}

TEST(ApplicationTitleTest, OneWordIsTheTitleAsItStands) {
    EXPECT_EQ(ShortenedTitle(QStringLiteral("Veltrane")), QStringLiteral("Veltrane"));
    EXPECT_NO_THROW(SetApplicationTitle());
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("Veltrane"));
}

TEST(ApplicationTitleTest, NoBlankLeftWhileTooLongFailsAndKeepsPreviousTitle) {
    SetApplicationTitle(QStringLiteral("Veltrane Copier"));
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("Veltrane"));
    // After the only blank goes, 45 characters remain with nowhere to cut.
    const QString name = QString(45, QLatin1Char('x')) + QStringLiteral(" tail");
    EXPECT_THROW(SetApplicationTitle(name), std::invalid_argument);
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("Veltrane"));

    // Boxes without a caption of their own carry the title.
    SetApplicationTitle(QStringLiteral("Veltrane Beta Build"));
    ScriptedDialogs dialogs;
    dialogs.MsgBox(QStringLiteral("Rename not available."));
    dialogs.AskText(QStringLiteral("Enter new name of a:"), QStringLiteral("a"));
    EXPECT_EQ(dialogs.shown()[0].caption, QStringLiteral("Veltrane Beta"));
    EXPECT_EQ(dialogs.shown()[1].caption, QStringLiteral("Veltrane Beta"));
    SetApplicationTitle();
}

class FileExistsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Write(const QString& name) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
        return f.fileName();
    }
    QTemporaryDir dir;
};

TEST_F(FileExistsTest, PresentAndMissing) {
    EXPECT_TRUE(FileExists(Write(QStringLiteral("HAND-M.CUR"))));
    EXPECT_TRUE(FileExists(Write(QStringLiteral("naïve 'quoted' \\ name"))));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("hand-m.cur")))); // case matters here
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("x/o.cjs"))));
    EXPECT_FALSE(FileExists(QString()));
    // A path with a NUL is malformed, not a shorter path that happens to exist.
    EXPECT_FALSE(FileExists(dir.path() + QChar(u'\0') + QStringLiteral("junk")));
}

TEST_F(FileExistsTest, FileInFolderWithoutAccess) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root: no folder permission keeps root out, so an "
                        "unreadable path cannot be made here";
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    const QString path = Write(QStringLiteral("locked/HAND-M.CUR"));
    ASSERT_TRUE(FileExists(path));
    QFile::setPermissions(dir.filePath(QStringLiteral("locked")), QFileDevice::Permissions{});
    EXPECT_FALSE(FileExists(path));
    QFile::setPermissions(dir.filePath(QStringLiteral("locked")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(FileExistsTest, NotAFileBecauseAComponentIsAFile) {
    // "<file>/x" cannot be read whoever asks: ENOTDIR, even for root.
    const QString file = Write(QStringLiteral("plain"));
    EXPECT_FALSE(FileExists(file + QStringLiteral("/HAND-M.CUR")));
}

TEST(ProgramFilesTest, OptionalFilesBelowProgramFolder) {
    EXPECT_EQ(SkinFilePath(QStringLiteral("/opt/v")), QStringLiteral("/opt/v/x/o.cjs"));
    EXPECT_EQ(HandCursorPath(QStringLiteral("/opt/v")), QStringLiteral("/opt/v/HAND-M.CUR"));
    const QString folder = ProgramFolder();
    EXPECT_FALSE(folder.endsWith(QLatin1Char('/')));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/app_unit_tests")));
}

TEST(OperationGuardTest, SecondEntryIsRefusedUntilTheFirstEnds) {
    OperationGuard guard;
    {
        auto first = guard.Enter();
        ASSERT_TRUE(first);
        EXPECT_TRUE(guard.Running());
        auto second = guard.Enter();
        EXPECT_FALSE(second);
        EXPECT_TRUE(guard.Running()); // the refused one does not release the first
    }
    EXPECT_FALSE(guard.Running());
    EXPECT_TRUE(guard.Enter());
}

TEST(OperationGuardTest, ReleasedWhenTheOperationThrows) {
    OperationGuard guard;
    try {
        auto running = guard.Enter();
        throw std::runtime_error("x");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(guard.Running());
}

TEST(EventYielderTest, ProcessesOnlyWhenTheIntervalHasPassed) {
    EventYielder yielder(std::chrono::milliseconds(20));
    EXPECT_TRUE(yielder.Yield()); // nothing processed yet: due at once
    EXPECT_FALSE(yielder.Yield());
    EXPECT_FALSE(yielder.Yield());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(yielder.Yield());
    EXPECT_FALSE(yielder.Yield());
}

} // namespace
} // namespace veltrane
