// The capture tool's command line: quoting for Windows, and the words of --trace and
// --hooks.
#include "CommandLine.h"
#include "HookKinds.h"
#include "TraceMask.h"

#include <gtest/gtest.h>

TEST(CommandLine, ArgumentsSurviveWindowsQuoting)
{
    struct {
        const char* Arg;
        const char* Quoted;
    } cases[] = {
        {"plain", "plain"},
        {"", "\"\""},
        {"with blank", "\"with blank\""},
        {"C:\\Program Files\\x.exe", "\"C:\\Program Files\\x.exe\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"trailing\\ dir\\", "\"trailing\\ dir\\\\\""},
        {"back\\\\\"quote", "\"back\\\\\\\\\\\"quote\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QuoteArgument(c.Arg), c.Quoted) << c.Arg;
    EXPECT_EQ(JoinCommandLine({"ocirun.exe", "-log", "a b.log"}), "ocirun.exe -log \"a b.log\"");
}

TEST(CommandLine, TraceListWordsComeFromTheTraceMaskTable)
{
    const struct {
        const char* List;
        int Mask;  // -1: the word after the colon is refused
        const char* Unknown;
    } cases[] = {
        {"execute", TraceMaskExecute, ""},
        {"prepare,execute,fetch", TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch, ""},
        {"fetch,prepare", TraceMaskPrepare | TraceMaskFetch, ""},
        {"fetch,,fetch,", TraceMaskFetch, ""},
        {"binds,errors,rows", TraceMaskBinds | TraceMaskErrors | TraceMaskRows, ""},
        {"all", TraceMaskAll, ""},
        {"execute,all", TraceMaskAll, ""},
        {"All", -1, "All"},
        {"", 0, ""},
        {"Execute", -1, "Execute"},
        {"prepare,exec", -1, "exec"},
        {" fetch", -1, " fetch"},
    };
    for (const auto& c : cases) {
        if (c.Mask >= 0) {
            EXPECT_EQ(TraceMaskOfWords(c.List), c.Mask) << c.List;
            continue;
        }
        try {
            TraceMaskOfWords(c.List);
            ADD_FAILURE() << "no error for " << c.List;
        } catch (const EUnknownTraceWord& e) {
            EXPECT_EQ(e.Word, c.Unknown) << c.List;
            EXPECT_EQ(std::string(e.what()), std::string("unknown action in --trace: ") + c.Unknown);
        }
    }
    EXPECT_EQ(TraceMaskWords(), "prepare,execute,fetch,binds,errors,rows,connect,commit,lobs");
    EXPECT_EQ(TraceMaskAll, 511) << "every kind";
    // Each word gives back its own bit, and the table's defaults make the default mask.
    TTraceMask defaults = 0;
    for (const TTraceMaskBit& bit : TraceMaskBits) {
        EXPECT_EQ(TraceMaskOfWords(bit.Word), bit.Bit) << bit.Word;
        if (bit.Default)
            defaults |= bit.Bit;
    }
    EXPECT_EQ(defaults, TraceMaskExecute);
    EXPECT_EQ(DefaultTraceMask, TraceMaskExecute);
}

TEST(CommandLine, HookWordsComeFromTheHookKindTable)
{
    EXPECT_EQ(HookKindOfWord("int3"), THookKind::Breakpoint);
    EXPECT_EQ(HookKindOfWord("fast"), THookKind::Fast);
    EXPECT_EQ(HookKindOfWord("log"), THookKind::Log);
    // Only the words as written: no other case, no blanks, no lists, no numbers.
    for (const char* word : {"", "Fast", "INT3", " fast", "fast ", "int3,fast", "breakpoint", "jump", "0", "1", "Log", "logged"})
        EXPECT_EQ(HookKindOfWord(word), std::nullopt) << "'" << word << "'";
    EXPECT_EQ(HookKindWords(), "int3, fast or log");
    // Each kind has its own word, which gives the kind back; without --hooks, int3.
    for (const THookKindName& name : HookKindNames) {
        EXPECT_EQ(HookKindOfWord(name.Word), name.Kind) << name.Word;
        EXPECT_STREQ(HookKindWord(name.Kind), name.Word);
    }
    EXPECT_EQ(DefaultHookKind, THookKind::Breakpoint);
}
