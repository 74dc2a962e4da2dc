// What the stub emitters of both machines share (Stubs.cpp), and the emitters of each
// machine's stub (Stubs32.cpp, Stubs64.cpp).
#pragma once

#include "Stubs.h"
#include "X86Writer.h"

// One slot's stub as it is being written: the writer, the code it becomes, where it lies
// and what it is built for. Original: the label of the trampoline.
struct TStubContext {
    TX86Writer& W;
    TStubCode& Code;
    TAddress Page;
    int Slot;
    int Original;
    const TStubLogRef& Log;
    const TStubSpec& Spec;
};

// The guard before a raise: skip it unless the page's guard word is set, the process is
// being debugged (the PEB's BeingDebugged) and, where wanted is given, the byte there is
// set. Returns where the window of a thread that has passed the first test begins.
TAddress EmitGuard(TX86Writer& w, TAddress page, int skip, TAddress wanted = 0);

// The length check of a late call's bytes, the same machine code for both machines: a
// length over what an entry holds goes to raise, none at all to empty. lengthAt: the
// length argument's displacement from the frame pointer.
void EmitLengthCheck(TX86Writer& w, int32_t lengthAt, int raise, int empty);

void EmitStub32(const TStubContext& c);
void EmitStub64(const TStubContext& c);

// The 64-bit part of a page header: the unwind data of every slot's stub, and the code
// that registers it.
void EmitPageHeader64(std::vector<unsigned char>& header, TAddress page, TAddress addFunctionTable);
