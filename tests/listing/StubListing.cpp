// Writes the code the stub emitters make, for both machines, into the current folder, at
// fixed addresses: one slot's stub with every part it can have (15 argument words, a late
// path that copies bytes, a filter) and the page header. stub-listing.sh disassembles the
// files and compares the result with the listings kept beside it. The emitters take the
// machine as an argument, so either tree writes both machines' code: run in both, the
// test also finds code that differs with the bitness of the program that emits it.
#include "Stubs.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct TMachine {
    const char* Name;
    bool X64;
    TAddress Page, Entry, Log;
    // What the stubs call in the program.
    TAddress Raise, BadReadPtr, Counter, AddFunctionTable;
    // The entry point's first bytes, moved to the trampoline.
    std::string Moved;
};

const TMachine Machines[] = {
    {"x86", false, 0x10000000, 0x6A401230, 0x00C00000, 0x76A01000, 0x76A02000, 0x76A03000, 0,
     std::string("\x8B\xFF\x55\x8B\xEC", 5)},  // mov edi, edi; push ebp; mov ebp, esp
    {"x64", true, 0x7FFB12300000, 0x7FFB12341230, 0x00000000001A0000, 0x7FFB20001000, 0x7FFB20002000,
     0x7FFB20003000, 0x7FFB30001000, std::string("\x48\x89\x5C\x24\x08", 5)},  // mov [rsp+8], rbx
};

// As a hook on an attribute getter would ask: argument 2 (a handle type) is 4 and
// argument 5 (an attribute) one of three.
TStubSpec Spec()
{
    TStubSpec spec;
    spec.Words = StubMaxWords;
    spec.Late = {true, 3, 4};
    spec.Filter.Arg = 2;
    spec.Filter.Value = 4;
    spec.Filter.ListArg = 5;
    spec.Filter.ListSize = 3;
    spec.Filter.List[0] = 0x1F;
    spec.Filter.List[1] = 0x20;
    spec.Filter.List[2] = 0x24;
    return spec;
}

bool Write(const std::string& name, const unsigned char* bytes, size_t size)
{
    FILE* file = std::fopen(name.c_str(), "wb");
    if (!file)
        return false;
    bool written = std::fwrite(bytes, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

} // namespace

int main()
{
    // Each line: machine, code or data, address, file, title.
    std::string manifest;
    bool ok = true;
    auto part = [&](const TMachine& m, const char* kind, TAddress at, const std::string& file,
                    const unsigned char* bytes, size_t size, const char* title) {
        ok = Write(file, bytes, size) && ok;
        char line[64];
        std::snprintf(line, sizeof(line), "%s %s 0x%llx ", m.Name, kind, static_cast<unsigned long long>(at));
        manifest += line + file + " " + title + "\n";
    };
    for (const TMachine& m : Machines) {
        const int slot = 1;
        TStubCode stub = BuildStubCode(m.Page, slot, m.Entry, reinterpret_cast<const unsigned char*>(m.Moved.data()),
                                       m.Moved.size(), m.X64, m.Log, Spec());
        std::string name = m.Name;
        part(m, "code", TStubPageLayout::Slot(m.Page, slot), name + "-slot.bin", stub.Bytes.data(), stub.Bytes.size(),
             "slot 1: trampoline, stub, filter");
        std::vector<unsigned char> header =
            BuildPageHeader(m.Page, m.Raise, m.BadReadPtr, m.Counter, m.AddFunctionTable, m.X64);
        // Data up to the code of a 64-bit page; a 32-bit page has none behind its addresses.
        part(m, "data", m.Page, name + "-header.bin", header.data(),
             m.X64 ? TStubPageLayout::RegisterOffset : TStubPageLayout::TableOffset,
             m.X64 ? "page header: guard, addresses, unwind data, function table" : "page header: guard, addresses");
        if (m.X64) {
            size_t end = TStubPageLayout::ReturnWantedOffset;
            while (end > TStubPageLayout::RegisterOffset && header[end - 1] == 0xCC)
                --end;
            part(m, "code", m.Page + TStubPageLayout::RegisterOffset, name + "-register.bin",
                 header.data() + TStubPageLayout::RegisterOffset, end - TStubPageLayout::RegisterOffset,
                 "page header: the routine that registers the unwind data");
        }
    }
    ok = Write("manifest.txt", reinterpret_cast<const unsigned char*>(manifest.data()), manifest.size()) && ok;
    if (!ok)
        std::fprintf(stderr, "stub_listing: cannot write the files\n");
    return ok ? 0 : 1;
}
