#include "app/shell/ErrorTrap.h"

#include "app/shell/Dialogs.h"
#include "connect/access/DatabaseError.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <utility>
#include <vector>

namespace veltrane {
namespace {

const QString kTestTag = QStringLiteral("Brackwater2017/04/05.Form1.PushButton6_Click");
const QString kTransferTag = QStringLiteral("Brackwater2017/04/05.Form2.PushButton3_Click");

TEST(ErrorReportText, PlainHandlerByteForByte) {
    EXPECT_EQ(ComposeErrorReport(QStringLiteral("Login failed"), kTestTag, 106),
              QStringLiteral("Login failed\r\nin Brackwater2017/04/05.Form1.PushButton6_Click at "
                             "line 106\r\rPlease email screenshot of this message to "
                             "support@harnwick.example"));
    EXPECT_EQ(LocationTag(QStringLiteral("Form1"), QStringLiteral("PushButton6_Click")), kTestTag);
}

TEST(ErrorReportText, TransferHandlerEndsWithStatement) {
    EXPECT_EQ(ComposeErrorReport(QStringLiteral("Bad column"), kTransferTag, 270,
                                 QStringLiteral("INSERT INTO [t] VALUES ('it''s')")),
              QStringLiteral("Bad column\r\nin Brackwater2017/04/05.Form2.PushButton3_Click at "
                             "line 270\r\rPlease email screenshot of this message to "
                             "support@harnwick.example\r\rsql: INSERT INTO [t] VALUES ('it''s')"));
    // Before the first statement text exists the report ends with "sql: " and nothing.
    EXPECT_TRUE(ComposeErrorReport(QStringLiteral("x"), kTransferTag, 100, QString())
                    .endsWith(QStringLiteral("example\r\rsql: ")));
}

// The statement is cut after its first 4,000 characters (code points, so a multi-byte
// character is never split), with the number left out.
TEST(ErrorReportText, LongStatementIsCutAfterItsFirstCharacters) {
    const std::string e = "\xc3\xa9"; // é: two bytes, one character
    struct Case {
        std::string statement;
        std::size_t keep;
        QString shown;
    } cases[] = {
        {"", 3, QString()},
        {"abc", 3, QStringLiteral("abc")},
        {"abcd", 3, QStringLiteral("abc... (1 characters left out)")},
        {e + e + e + e + "x", 3, QString::fromUtf8(e + e + e) + "... (2 characters left out)"},
        {"ab" + e + e, 3,
         QStringLiteral("ab") + QString::fromUtf8(e) + "... (1 characters left out)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AbbreviatedStatement(c.statement, c.keep), c.shown) << c.statement;

    const std::string huge(16 * 1024 * 1024, 'v');
    const QString shown = AbbreviatedStatement(huge);
    EXPECT_EQ(shown.size(), 4000 + QStringLiteral("... (16773216 characters left out)").size());
    EXPECT_TRUE(shown.endsWith(QStringLiteral("v... (16773216 characters left out)")));
}

TEST(ErrorReportText, EmptyDescriptionStartsWithLineBreak) {
    const QString text = ComposeErrorReport(QString(), kTestTag, 104);
    EXPECT_TRUE(text.startsWith(QStringLiteral("\r\nin Brackwater2017/04/05.Form1.")));
}

TEST(FailureDescriptions, FromEachKindOfFailure) {
    auto describe = [](auto failure) {
        return FailureDescription(std::make_exception_ptr(failure));
    };
    EXPECT_EQ(describe(DatabaseError("Table 'x' doesn't exist", 1146)),
              QStringLiteral("Table 'x' doesn't exist"));
    EXPECT_EQ(describe(DatabaseError("Ungültiger Name «ü»")),
              QStringLiteral("Ungültiger Name «ü»"));
    EXPECT_EQ(describe(std::invalid_argument("x")),
              QStringLiteral("Invalid procedure call or argument"));
    EXPECT_EQ(describe(std::out_of_range("x")),
              QStringLiteral("Invalid procedure call or argument"));
    EXPECT_EQ(describe(std::runtime_error("disk gone")), QStringLiteral("disk gone"));
    EXPECT_EQ(describe(42), QStringLiteral("Unexpected failure"));
}

class ErrorTrapTest : public ::testing::Test {
protected:
    // The line numbers of the reports shown so far, read back from the box texts.
    std::vector<unsigned> ReportedLines() const {
        std::vector<unsigned> lines;
        for (const auto& shown : dialogs.shown()) {
            const qsizetype at = shown.text.indexOf(QStringLiteral(" at line "));
            const qsizetype end = shown.text.indexOf(QLatin1Char('\r'), at);
            lines.push_back(shown.text.mid(at + 9, end - at - 9).toUInt());
        }
        return lines;
    }

    ScriptedDialogs dialogs;
};

TEST_F(ErrorTrapTest, BoxHasCaptionIconAndOkOnly) {
    ErrorTrap trap(kTestTag, dialogs);
    trap.Run(106, [] { throw DatabaseError("Can't connect"); });
    ASSERT_EQ(dialogs.shown().size(), 1u);
    const auto& box = dialogs.shown()[0];
    EXPECT_EQ(box.caption, QStringLiteral("Application Error"));
    EXPECT_EQ(box.icon, MessageIcon::Exclamation);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_EQ(box.text, ComposeErrorReport(QStringLiteral("Can't connect"), kTestTag, 106));
}

TEST_F(ErrorTrapTest, FailedStatementProducesNoResultAndRunGoesOn) {
    ErrorTrap trap(kTestTag, dialogs);
    int value = 1;
    std::vector<unsigned> ran;
    EXPECT_TRUE(trap.Run(100, [&] { ran.push_back(100); }));
    EXPECT_FALSE(trap.Run(102, [&] {
        ran.push_back(102);
        value = std::stoi("not a number"); // throws before assigning
    }));
    EXPECT_TRUE(trap.Run(104, [&] { ran.push_back(104); }));
    EXPECT_EQ(value, 1);
    EXPECT_EQ(ran, (std::vector<unsigned>{100, 102, 104}));
    EXPECT_EQ(ReportedLines(), std::vector<unsigned>{102});
    EXPECT_TRUE(dialogs.shown()[0].text.startsWith(
        QStringLiteral("Invalid procedure call or argument\r\n")));
}

TEST_F(ErrorTrapTest, TwoFailuresGiveTwoBoxesInOrder) {
    ErrorTrap trap(kTestTag, dialogs);
    trap.Run(100, [] {});
    trap.Run(102, [] { throw DatabaseError("first"); });
    trap.Run(104, [] {});
    trap.Run(106, [] { throw std::runtime_error("second"); });
    trap.Run(108, [] {});
    EXPECT_EQ(ReportedLines(), (std::vector<unsigned>{102, 106}));
    EXPECT_TRUE(dialogs.shown()[0].text.startsWith(QStringLiteral("first\r\n")));
    EXPECT_TRUE(dialogs.shown()[1].text.startsWith(QStringLiteral("second\r\n")));
}

TEST_F(ErrorTrapTest, FailingConditionRunsGuardedStatementsAndSkipsAlternative) {
    ErrorTrap trap(kTestTag, dialogs);
    std::vector<unsigned> ran;
    auto step = [&](bool (*test)()) {
        if (trap.If(148, test))
            trap.Run(150, [&] { ran.push_back(150); });
        else
            trap.Run(152, [&] { ran.push_back(152); });
    };
    step([]() -> bool { throw DatabaseError("unreachable host"); });
    step([] { return true; });
    step([] { return false; });
    EXPECT_EQ(ran, (std::vector<unsigned>{150, 150, 152}));
    EXPECT_EQ(ReportedLines(), std::vector<unsigned>{148});
}

// A shared procedure reports nothing itself; its failure surfaces at the calling statement.
void SharedProcedure(std::vector<int>& done) {
    done.push_back(1);
    throw DatabaseError("inside the procedure");
}

TEST_F(ErrorTrapTest, FailureInsideCalledProcedureReportsCallingStatement) {
    ErrorTrap trap(QStringLiteral("Brackwater2017/04/05.Form1.Form_Load"), dialogs);
    std::vector<int> done;
    trap.Run(148, [&] { SharedProcedure(done); });
    trap.Run(150, [&] { done.push_back(2); });
    EXPECT_EQ(done, (std::vector<int>{1, 2})); // what the procedure did before failing stays
    EXPECT_EQ(ReportedLines(), std::vector<unsigned>{148});
    EXPECT_TRUE(dialogs.shown()[0].text.contains(
        QStringLiteral("in Brackwater2017/04/05.Form1.Form_Load at line 148\r\r")));
}

TEST_F(ErrorTrapTest, TransferTrapShowsStatementAtTheMomentOfFailure) {
    std::string sql;
    ErrorTrap trap(kTransferTag, dialogs, sql);
    trap.Run(100, [] { throw DatabaseError("no connection"); });
    sql = "INSERT INTO [t] VALUES ('\xc3\xa9')";
    trap.Run(230, [] { throw DatabaseError("duplicate key"); });
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_TRUE(dialogs.shown()[0].text.endsWith(QStringLiteral("\r\rsql: ")));
    EXPECT_TRUE(
        dialogs.shown()[1].text.endsWith(QStringLiteral("\r\rsql: INSERT INTO [t] VALUES ('é')")));
}

// The hook sees every failure, whichever kind of step it comes from, before its box is shown;
// a hook that throws does not keep the box from showing, and an empty one sees nothing.
TEST_F(ErrorTrapTest, FailureHookSeesEachFailureBeforeItsBox) {
    ErrorTrap trap(kTestTag, dialogs);
    std::vector<std::pair<QString, std::size_t>> seen; // the failure, the boxes shown before it
    trap.SetFailureHook([&](const std::exception_ptr& failure) {
        seen.emplace_back(FailureDescription(failure), dialogs.shown().size());
        if (seen.size() == 4)
            throw std::runtime_error("the hook fails");
    });
    using Range = std::pair<long long, long long>;
    trap.Run(100, [] { throw DatabaseError("run"); });
    trap.If(102, []() -> bool { throw DatabaseError("if"); });
    trap.Value(
        104, []() -> int { throw DatabaseError("value"); }, 0);
    trap.For(
        106, []() -> Range { throw DatabaseError("for"); }, [](long long) {});
    trap.Run(108, [] {});
    trap.SetFailureHook({});
    trap.Run(110, [] { throw DatabaseError("after"); });
    EXPECT_EQ(seen, (std::vector<std::pair<QString, std::size_t>>{
                        {QStringLiteral("run"), 0},
                        {QStringLiteral("if"), 1},
                        {QStringLiteral("value"), 2},
                        {QStringLiteral("for"), 3},
                    }));
    EXPECT_EQ(ReportedLines(), (std::vector<unsigned>{100, 102, 104, 106, 110}));
}

TEST_F(ErrorTrapTest, LoopHeadFailureGoesOnWithKnownBoundOrSkipsBody) {
    ErrorTrap trap(kTestTag, dialogs);
    std::vector<long long> passes;
    using Range = std::pair<long long, long long>;
    trap.For(
        110,
        []() -> Range {
            return {1, 3};
        },
        [&](long long i) { passes.push_back(i); });
    trap.For(
        112, []() -> Range { throw DatabaseError("no field count"); },
        [&](long long i) { passes.push_back(10 + i); }, Range{0, 0});
    trap.For(
        114, []() -> Range { throw DatabaseError("no row count"); },
        [&](long long i) { passes.push_back(20 + i); });
    EXPECT_EQ(passes, (std::vector<long long>{1, 2, 3, 10}));
    EXPECT_EQ(ReportedLines(), (std::vector<unsigned>{112, 114}));

    // A failing value keeps its fallback: a bound read at the head of a hand-written loop.
    const int bound = trap.Value(
        116, []() -> int { throw std::out_of_range("x"); }, 7);
    EXPECT_EQ(bound, 7);
    EXPECT_EQ(trap.Value(
                  118, [] { return 3; }, 7),
              3);
}

TEST_F(ErrorTrapTest, FailureInLoopBodyShowsOneBoxPerPass) {
    ErrorTrap trap(kTestTag, dialogs);
    int after = 0;
    trap.For(
        120,
        [] {
            return std::pair<long long, long long>{1, 3};
        },
        [&](long long) {
            trap.Run(122, [] { throw DatabaseError("every pass"); });
            trap.Run(124, [&] { ++after; });
        });
    EXPECT_EQ(ReportedLines(), (std::vector<unsigned>{122, 122, 122}));
    EXPECT_EQ(after, 3);
}

TEST_F(ErrorTrapTest, FailingDialogDoesNotEscape) {
    struct ThrowingDialogs : ScriptedDialogs {
        MessageAnswer ShowMessage(const QString&, const QString&, MessageIcon, MessageButtons,
                                  MessageAnswer) override {
            throw std::runtime_error("no display");
        }
    } broken;
    ErrorTrap trap(kTestTag, broken);
    bool next = false;
    EXPECT_NO_THROW(trap.Run(100, [] { throw 1; }));
    trap.Run(102, [&] { next = true; });
    EXPECT_TRUE(next);
}

TEST(ScriptedDialogsTest, RecordsBoxesAndAnswersFromQueue) {
    ScriptedDialogs dialogs;
    dialogs.QueueAnswer(MessageAnswer::No);
    EXPECT_FALSE(dialogs.AskOverwrite(QStringLiteral("Would you like to overwrite t?")));
    EXPECT_TRUE(dialogs.AskOverwrite(QStringLiteral("again"))); // default button Yes
    dialogs.QueueInput(QStringLiteral("new_name"));
    EXPECT_EQ(dialogs.AskText(QStringLiteral("Enter new name of t:"), QStringLiteral("t")),
              QStringLiteral("new_name"));
    dialogs.MsgBox(QStringLiteral("Please select a table"));
    ASSERT_EQ(dialogs.shown().size(), 4u);
    const auto& ask = dialogs.shown()[0];
    EXPECT_EQ(ask.caption, QStringLiteral("Overwrite?"));
    EXPECT_EQ(ask.buttons, MessageButtons::YesNo);
    EXPECT_EQ(ask.defaultAnswer, MessageAnswer::Yes);
    EXPECT_EQ(ask.icon, MessageIcon::None);
    EXPECT_TRUE(dialogs.shown()[2].isInput);
    EXPECT_EQ(dialogs.shown()[2].initialAnswer, QStringLiteral("t"));
    EXPECT_EQ(dialogs.shown()[3].buttons, MessageButtons::Ok);
    EXPECT_EQ(dialogs.shown()[3].icon, MessageIcon::None);
}

} // namespace
} // namespace veltrane
