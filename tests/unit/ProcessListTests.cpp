#include "FakeProcess.h"
#include "ProcessList.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Builds a SYSTEM_PROCESS_INFORMATION chain (of this build's bitness) in a buffer of its own.
class TSnapshotBuilder {
public:
    struct TEntry {
        DWORD Pid;
        const wchar_t* Name;  // null: no image name
    };

    std::vector<BYTE> Build(const std::vector<TEntry>& entries, size_t recordSize = 256)
    {
        std::vector<BYTE> buffer(entries.size() * recordSize + 16, 0);
        for (size_t i = 0; i < entries.size(); ++i) {
            BYTE* record = buffer.data() + i * recordSize;
            DWORD next = i + 1 < entries.size() ? static_cast<DWORD>(recordSize) : 0;
            std::memcpy(record, &next, 4);
            constexpr bool Wide = sizeof(void*) == 8;
            std::memcpy(record + (Wide ? 80 : 68), &entries[i].Pid, 4);
            if (entries[i].Name) {
                BYTE* name = record + 128;
                size_t bytes = std::wcslen(entries[i].Name) * 2;
                std::memcpy(name, entries[i].Name, bytes);
                USHORT length = static_cast<USHORT>(bytes);
                std::memcpy(record + 56, &length, 2);
                uintptr_t address = reinterpret_cast<uintptr_t>(name);
                std::memcpy(record + (Wide ? 64 : 60), &address, sizeof(address));
            }
        }
        return buffer;
    }
};

// A process list over snapshots the test makes, with processes made of bytes.
class TTestProcessList : public TProcessInfos {
public:
    std::vector<TSnapshotBuilder::TEntry> Entries;
    std::set<DWORD> Unopenable;
    int Opened = 0;

protected:
    bool QuerySnapshot(std::vector<BYTE>& buffer) override
    {
        // Moving the vector keeps its storage, so the name pointers stay right.
        buffer = TSnapshotBuilder().Build(Entries);
        return true;
    }

    TRecord OpenProcessRecord(DWORD processId, const std::string& fileName) override
    {
        if (Unopenable.count(processId))
            RaiseOSError(ERROR_ACCESS_DENIED);
        ++Opened;
        auto record = std::make_shared<TFakeProcess>();
        record->ProcessId = processId;
        record->FileName = fileName;
        return record;
    }

};

std::vector<DWORD> Ids(const TProcessInfos& list)
{
    std::vector<DWORD> ids;
    for (const auto& record : list.Snapshot())
        ids.push_back(record->ProcessId);
    return ids;
}

} // namespace

TEST(ProcessSnapshot, WalkFollowsTheChainAndNeverLeavesTheBuffer)
{
    TSnapshotBuilder builder;
    auto buffer = builder.Build({{4, L"System"}, {0, nullptr}, {1234, L"client.exe"}});
    auto entries = ParseProcessSnapshot(buffer.data(), buffer.size());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].ProcessId, 4u);
    EXPECT_EQ(entries[0].Name, L"System");
    EXPECT_FALSE(entries[1].HasName);
    EXPECT_EQ(entries[2].Name, L"client.exe");

    // A NextEntryOffset pointing outside the buffer ends the walk.
    DWORD bogus = 0x7FFFFFF0;
    std::memcpy(buffer.data(), &bogus, 4);
    EXPECT_EQ(ParseProcessSnapshot(buffer.data(), buffer.size()).size(), 1u);

    // A zeroed buffer reads as one record with id 0 and no name; a tiny one as nothing.
    std::vector<BYTE> zeros(4096, 0);
    entries = ParseProcessSnapshot(zeros.data(), zeros.size());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].ProcessId, 0u);
    EXPECT_FALSE(entries[0].HasName);
    EXPECT_TRUE(ParseProcessSnapshot(zeros.data(), 40).empty());
}

TEST(ProcessList, RefreshKeepsAppendsAndDropsRecords)
{
    TTestProcessList list;
    list.Entries = {{0, nullptr}, {8, L"a.exe"}, {12, L"b.exe"}, {16, L"locked.exe"}};
    list.Unopenable = {16};
    list.Refresh();
    EXPECT_EQ(Ids(list), (std::vector<DWORD>{8, 12})) << "no idle process, no process we cannot open";
    auto a = list.FindProcess(8);
    auto b = list.FindProcess(12);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->FileName, "a.exe");

    list.Refresh();
    EXPECT_EQ(Ids(list), (std::vector<DWORD>{8, 12}));
    EXPECT_EQ(list.FindProcess(8), a) << "an unchanged record is kept, not made anew";
    EXPECT_EQ(list.Opened, 2);

    // 20 appears at the end even though the snapshot lists it first; 8 has ended.
    list.Entries = {{20, L"new.exe"}, {12, L"b.exe"}};
    list.Refresh();
    EXPECT_EQ(Ids(list), (std::vector<DWORD>{12, 20}));
    EXPECT_EQ(list.FindProcess(12), b);
    EXPECT_EQ(list.IndexOfProcess(8), -1);
    EXPECT_EQ(a->ProcessId, 8u) << "a record someone still holds stays valid after the refresh drops it";
    EXPECT_EQ(a.use_count(), 1);
}

TEST(ProcessList, TheRealListHoldsThisProcess)
{
    ProcessList().Refresh();
    auto self = ProcessList().FindProcess(GetCurrentProcessId());
    ASSERT_TRUE(self);
    EXPECT_TRUE(self->Handle);
    EXPECT_NE(self->FileName.find("unit_tests"), std::string::npos) << self->FileName;
    // Refreshing again keeps the very same record.
    ProcessList().Refresh();
    EXPECT_EQ(ProcessList().FindProcess(GetCurrentProcessId()), self);
}

TEST(ProcessMemory, ReadsOfARealProcess)
{
    TProcessInfo self(GetCurrentProcessId(), "self");
    static const char text[] = "SELECT *\r\nFROM dual\0tail";
    TAddress address = PointerAddress(text);
    EXPECT_EQ(self.ReadString(address, sizeof(text) - 1), std::string(text, sizeof(text) - 1));
    EXPECT_EQ(self.ReadString(address, 0), "");
    EXPECT_EQ(self.ReadDword(address), *reinterpret_cast<const uint32_t*>(text));

    auto failure = [&](auto&& read) -> std::string {
        try {
            read();
        } catch (const EOSError& e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(failure([&] { self.ReadDword(0x10); }).rfind("System Error.  Code: ", 0), 0u);
    // A garbage length is refused before anything is allocated.
    EXPECT_EQ(failure([&] { self.ReadString(address, 0xFFFFFFF0); }), EOSError(ERROR_NOT_ENOUGH_MEMORY).what());
    // Texts longer than one piece arrive whole.
    std::string big(3 * 64 * 1024 + 5, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    EXPECT_EQ(self.ReadString(PointerAddress(big.data()), big.size()), big);
}
