#include "OutOfLineCells.h"

#include "Errors.h"
#include "Stubs.h"

TOutOfLineCells::TOutOfLineCells(TProcessInfo& process, TPatchTable& patches, const TThreadInfos& threads, bool x64,
                                 bool wow64)
    : FProcess(process), FPatches(patches), FThreads(threads), FX64(x64), FWow64(wow64)
{
}

TAddress TOutOfLineCells::Cell(TAddress address)
{
    auto known = FCells.find(address);
    if (known == FCells.end()) {
        TAddress cell = 0;
        try {
            cell = Make(address);
        } catch (const EOSError&) {
            // Code that cannot be read or a cell that cannot be written: stepped instead.
        }
        known = FCells.emplace(address, cell).first;
    }
    return known->second;
}

TAddress TOutOfLineCells::Make(TAddress address)
{
    unsigned char code[16];
    FPatches.ReadCode(address, code, sizeof(code));
    size_t length = MovableLength(code, sizeof(code), FX64, 1);
    if (!length)
        return 0;
    if (FBlocks.empty() || FUsed + OutOfLineCellSize > BlockSize) {
        TRemoteBlock block = TRemoteBlock::Allocate(FProcess.Handle.get(), BlockSize, PAGE_EXECUTE_READWRITE);
        if (!block)
            return 0;
        FBlocks.push_back(std::move(block));
        FUsed = 0;
    }
    TAddress cell = FBlocks.back().get() + FUsed;
    std::vector<unsigned char> bytes = BuildOutOfLine(cell, address, code, length, FX64);
    FProcess.WriteMemory(cell, bytes.data(), bytes.size());
    FUsed += OutOfLineCellSize;
    FOrigins[cell] = TOrigin{address, length};
    return cell;
}

void TOutOfLineCells::Free()
{
    if (FBlocks.empty())
        return;
    TFirstError errors;
    FThreads.ForEachContext(FWow64, [&](TThreadContext& context) {
        errors.Attempt([&] {
            TAddress ip = context.Ip();
            for (const auto& [cell, origin] : FOrigins) {
                if (ip - cell >= OutOfLineCellSize)
                    continue;
                context.SetIp(ip == cell ? origin.Address : origin.Address + origin.Length);
                context.Flush();
                break;
            }
        });
    });
    for (TRemoteBlock& block : FBlocks)
        if (errors)
            block.Release();  // left in the program: a thread may still run in a cell
    FBlocks.clear();
    FOrigins.clear();
    FCells.clear();
    errors.Rethrow();
}
