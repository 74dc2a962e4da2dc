// The capture tool's command line: quoting for Windows, and the words of --trace.
#include "CommandLine.h"
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
    EXPECT_EQ(TraceMaskWords(), "prepare,execute,fetch");
    // Each word gives back its own bit, and the table's defaults make the default mask.
    BYTE defaults = 0;
    for (const TTraceMaskBit& bit : TraceMaskBits) {
        EXPECT_EQ(TraceMaskOfWords(bit.Word), bit.Bit) << bit.Word;
        if (bit.Default)
            defaults |= bit.Bit;
    }
    EXPECT_EQ(defaults, TraceMaskExecute);
    EXPECT_EQ(DefaultTraceMask, TraceMaskExecute);
}
