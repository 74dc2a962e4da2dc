// The binds of each statement, as the program made them, and the Binds cell of an
// execute: a bind call only says where a value will be; the execute reads it there.
#pragma once

#include "OCISessions.h"
#include "SysProcs.h"
#include "TraceRecord.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// OCIBindByName's and OCIBindByPos's mode bit for values handed over during the execute.
constexpr uint32_t OCI_DATA_AT_EXEC = 0x2;

// One bind of a statement.
struct TOCIBind {
    // The bind handle the call handed out.
    TAddress Handle = 0;
    // As the cell shows it: ":lo", ":3", ":<unreadable>".
    std::string Name;
    TAddress Value = 0;
    // The buffer's size as declared (negative: no size at all).
    int64_t Size = 0;
    uint16_t Type = 0;
    TAddress Indicator = 0;
    // The actual lengths, ub2 each (ub4 for the second generation of bind calls).
    TAddress Lengths = 0;
    unsigned LengthSize = 2;
    // The strides of arrays, as OCIBindArrayOfStruct gives them; 0: the element's size.
    uint64_t ValueSkip = 0, IndicatorSkip = 0, LengthSkip = 0;
    // The values come during the execute (OCIBindDynamic, OCI_DATA_AT_EXEC).
    bool AtExecute = false;
    // Text in UTF-16.
    bool Wide = false;
    // When it was made, among the binds of all statements: a handle OCI hands out again
    // names the latest bind made with it.
    uint64_t Made = 0;
};

// The name a bind shows: the placeholder with a leading ":" (added when the program left
// it out), ":<unreadable>" for one that could not be read; ":N" for position N.
std::string BindName(const std::string* placeholder);
std::string BindName(uint32_t position);

// At most this many rows of an array execute are shown.
constexpr uint32_t BindRowsShown = 3;

class TOCIBinds {
public:
    // A bind made on statement stmt. It replaces the statement's bind of the same
    // placeholder (names without their ":", unquoted ones in any letter case) or position,
    // in its place; otherwise it comes last. The handle the program passed in says nothing:
    // programs reuse one variable for all their binds.
    void Add(TAddress stmt, TOCIBind bind);
    void SetSkips(TAddress bindHandle, uint64_t value, uint64_t indicator, uint64_t length);
    void SetAtExecute(TAddress bindHandle);
    // The statement's binds go: it was freed, released or prepared anew.
    void Forget(TAddress stmt);

    // The values of an execute of stmt, bind by bind in bind order; for more than one row
    // (iters > 1) the first BindRowsShown rows from rowOffset on, and the count of rows.
    // Values are read now through reader; with hide every value is "?", and so is a text or
    // binary value that lies where a password does (secrets).
    TBindRows Items(TSafeReader& reader, TAddress stmt, uint32_t iters, uint32_t rowOffset, bool hide,
                    const TSecretMemory& secrets = {}) const;

private:
    // The latest bind made with a handle, nullptr for one never handed out.
    TOCIBind* Find(TAddress bindHandle);
    std::string ValueText(TSafeReader& reader, const TOCIBind& bind, uint64_t row, const TSecretMemory& secrets) const;

    std::unordered_map<TAddress, std::vector<TOCIBind>> FByStmt;
    // The statement of each bind handle's latest bind.
    std::unordered_map<TAddress, TAddress> FStmtOf;
    uint64_t FMade = 0;
};
