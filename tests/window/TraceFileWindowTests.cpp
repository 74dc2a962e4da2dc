// A saved trace opened in the window: the same rows, exports and totals as the live
// session it was saved from; a damaged file refused whole.
#include "MainWindowFixture.h"

#include "MainCommandLine.h"
#include "StatementTotals.h"
#include "TraceExport.h"
#include "Utils.h"

namespace {

std::string StatusText(const TfrmMain& form, int part)
{
    wchar_t text[256] = {};
    SendMessageW(form.StatusBar1, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text));
    return WideToUtf8(text);
}

// The list's rows as text, a line a row.
std::vector<std::string> Lines(const std::vector<TListRow>& rows)
{
    std::vector<std::string> lines;
    for (const TListRow& row : rows) {
        lines.push_back(row.Caption);
        for (const auto& cell : row.SubItems)
            lines.back() += "\t" + cell;
    }
    return lines;
}

} // namespace

TEST_F(MainWindowTest, AnOpenedTraceGivesTheLiveSessionsRowsExportsAndHookKind)
{
    SetClientScript({"load", "env E", "alloc ERR E error", "alloc S E stmt",
                     "prepare S SELECT * FROM nosuchtable WHERE id = :id", "bind S :id 5", "execute S ERR",
                     "oraerror ERR 942", "prepare S SELECT a FROM t /*vt rows=3*/", "execute S ERR", "fetch S 10",
                     "attrget S 197", "free S"});
    Form->RunProgram(TRunEntry{Client(), "", ""}, TraceMaskAll, THookKind::Log);
    ASSERT_TRUE(WaitForFinish());
    // The kind the rows were traced with, not the options' kind for the next session.
    EXPECT_EQ(StatusText(*Form, spHooks), "Hooks: Logged (no stop per call)");

    // What the live list gives: its rows, each export, the statement totals.
    auto outputs = [&](const std::string& tag) {
        std::vector<std::string> files;
        for (int format : {1, 2, 3}) {
            files.push_back(Scratch.File(tag + std::to_string(format)));
            SaveTrace(Form->TraceView->TraceRows, files.back(), format);
        }
        files.push_back(Scratch.File(tag + "totals"));
        SaveStatementTotals(Form->TraceView->Totals, files.back());
        std::vector<std::string> texts;
        for (const auto& file : files)
            texts.push_back(ReadFileBytes(file));
        return texts;
    };
    std::vector<std::string> liveRows = Lines(Rows());
    std::vector<std::string> live = outputs("live");
    ASSERT_GE(liveRows.size(), 5u);
    std::string file = Scratch.File("run.jsonl");
    Form->SaveTraceFile(file);

    // A damaged copy is refused naming its line, and the list stays as it was.
    std::string text = ReadFileBytes(file);
    size_t third = text.find('\n', text.find('\n') + 1) + 1;
    std::string damaged = Scratch.File("damaged.jsonl");
    WriteFileBytes(damaged, text.substr(0, third) + "{\"action\":\"Execute\",\"statement\":\"x}\n" + text.substr(third));
    std::string message;
    try {
        Form->OpenTraceFile(damaged);
    } catch (const std::exception& e) {
        message = e.what();
    }
    EXPECT_NE(message.find("line 3: not a line of JSON"), std::string::npos) << message;
    EXPECT_EQ(Lines(Rows()), liveRows);

    // Opened after the options changed the kind and the list was cleared: the file's rows,
    // exports and kind, the file named in the caption.
    Form->Settings.Hooks = THookKind::Fast;
    Command(cmViewClear);
    TWindowCommand command = ReadWindowCommandLine({file});
    ASSERT_EQ(command.TraceFile, file);
    StartCommandLine(*Form, command);
    PumpFor(50);
    EXPECT_EQ(Lines(Rows()), liveRows);
    EXPECT_EQ(outputs("opened"), live);
    EXPECT_NE(Caption().find("run.jsonl"), std::string::npos) << Caption();
    EXPECT_EQ(StatusText(*Form, spHooks), "Hooks: Logged (no stop per call)");
    // Saved again, the same file.
    Form->SaveTraceFile(Scratch.File("again.jsonl"));
    EXPECT_EQ(ReadFileBytes(Scratch.File("again.jsonl")), text);
}
