#include "Errors.h"
#include "SysProcs.h"
#include "Threads.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string MessageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        return ExceptionText(e);
    }
    return "(nothing raised)";
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

} // namespace

TEST(Errors, OperatingSystemErrorsCarryCodeLineBreakAndSystemText)
{
    std::string text = MessageOf([] { RaiseOSError(ERROR_FILE_NOT_FOUND); });
    ASSERT_TRUE(StartsWith(text, "System Error.  Code: 2.\r\n")) << text;
    EXPECT_EQ(text.substr(25), SysErrorMessage(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(text.substr(25).empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_EQ(MessageOf([] { RaiseOSError(0); }), "A call to an OS function failed");
}

TEST(Errors, AssertionsNameUnitAndLine)
{
    int line = __LINE__ + 1;
    std::string text = MessageOf([] { VASSERT(1 + 1 == 3, "DebugCore"); });
    EXPECT_EQ(text, "Assertion failure (DebugCore, line " + std::to_string(line) + ")");
    EXPECT_EQ(MessageOf([] { VASSERT(true, "DebugCore"); }), "(nothing raised)");
}

TEST(OwningList, PositionsThatDoNotExistRaiseTheIndexError)
{
    TOwningList<int> list;
    list.Add(std::make_unique<int>(7));
    EXPECT_EQ(MessageOf([&] { list.Items(1); }), "List index out of bounds (1)");
    EXPECT_EQ(MessageOf([&] { list.Delete(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(MessageOf([&] { list.Insert(3, std::make_unique<int>(1)); }), "List index out of bounds (3)");
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(*list.Items(0), 7);
}

TEST(ThreadList, DuplicateIdsAndUnknownIdsLeaveTheListUnchanged)
{
    TThreadInfos threads;
    threads.AddThread(10, reinterpret_cast<HANDLE>(0x100));
    threads.AddThread(20, reinterpret_cast<HANDLE>(0x200));

    EXPECT_TRUE(StartsWith(MessageOf([&] { threads.AddThread(10, reinterpret_cast<HANDLE>(0x300)); }),
                           "Assertion failure (SysProcs, line "));
    EXPECT_EQ(MessageOf([&] { threads.RemoveThread(30); }), "List index out of bounds (-1)");
    EXPECT_EQ(MessageOf([&] { threads.ThreadById(30); }), "List index out of bounds (-1)");
    ASSERT_EQ(threads.Count(), 2);
    EXPECT_EQ(threads.ThreadById(10)->Handle, reinterpret_cast<HANDLE>(0x100));
    EXPECT_EQ(threads.ThreadById(20)->PendingAddress, 0u);

    threads.RemoveThread(10);
    EXPECT_EQ(threads.IndexOfThread(10), -1);
    EXPECT_EQ(threads.IndexOfThread(20), 0);
}

TEST(ModuleList, DuplicateBaseIsRefusedAndRecordsCloseTheirFileHandles)
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);

    struct TLocal : TProcessInfo {
        TLocal() : TProcessInfo(1, "x.exe", nullptr) {}
    } process;
    process.AddModule(0x10000000, file, "C:\\x\\OCI.DLL");
    process.AddModule(0x20000000, nullptr);
    EXPECT_TRUE(StartsWith(MessageOf([&] { process.AddModule(0x10000000, nullptr); }),
                           "Assertion failure (SysProcs, line "));
    ASSERT_EQ(process.Count(), 2);
    EXPECT_EQ(process.IndexOfModule(0x20000000), 1);
    EXPECT_EQ(process.Items(0)->FileName, "C:\\x\\OCI.DLL");

    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(file, &flags));
    process.Delete(0);
    EXPECT_FALSE(GetHandleInformation(file, &flags)) << "the module record must close its file handle";
    process.Clear();  // the record without a handle closes nothing
    EXPECT_EQ(process.Count(), 0);
}
