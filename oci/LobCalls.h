// LOB calls as the tracer takes them: the LOB read, write, length and trim rows, and which
// statement delivered the locator each of them works on. A query's LOB column is defined
// with an array of locator pointers; each fetch of the query fills those locators. A LOB
// call on one of them belongs to that query, and counts under it.
#pragma once

#include "SysProcs.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

// The LOB types a define may name: CLOB, BLOB, BFILE (and its older code).
bool IsLobType(uint32_t dty);

// What a LOB call keeps from its entry to its return.
struct TLobCall {
    TAddress Locator = 0;
    // The in/out amount of bytes (of the older calls: the one amount) and of characters;
    // 0 where the call has none.
    TAddress Amount = 0;
    TAddress CharAmount = 0;
    // The amounts are 8 bytes wide (the calls ending in 2), else 4.
    bool WideAmount = false;
    // The offset the call starts at, from 1; -1 for a call without one.
    int64_t Offset = -1;
    // OCI_ONE_PIECE 0, FIRST 1, NEXT 2, LAST 3; -1 for a call without a piece.
    int Piece = -1;
    // A trim's new length; -1 for other calls.
    int64_t NewLength = -1;
};

// The memo's note of a LOB call: "offset 1, piece first", then ", 300 characters" when the
// program passed an amount of characters (chars, -1 when it did not or it could not be
// read). Empty for a call with none of these.
std::string LobNote(const TLobCall& call, int64_t chars);

// The LOB columns of statements and the locators their fetches delivered. Plain
// bookkeeping: the tracer hands in defines and fetches, and the reading of locator arrays.
class TLobLocators {
public:
    // Reads count pointers at array in the program; false when they cannot be read.
    using TReadPointers = std::function<bool(TAddress array, uint32_t count, std::vector<TAddress>& pointers)>;
    // The text a statement handle has now, for the locators it is found to deliver.
    using TTextOf = std::function<std::string(TAddress stmt)>;

    // OCIDefineByPos of column position on stmt: a LOB column's array of locator pointers,
    // or (lob false) any other define, which ends a LOB define at that position.
    void Defined(TAddress stmt, uint32_t position, TAddress array, bool lob);
    // A fetch on stmt asking for rows: the locators of that many rows are filled.
    void Fetched(TAddress stmt, uint32_t rows);
    // The statement is prepared anew or freed: its defines are gone.
    void Forget(TAddress stmt);
    bool HasDefines(TAddress stmt) const { return FDefines.count(stmt) != 0; }

    // The text of the statement whose fetch delivered locator, "" when none did. A locator
    // not seen before is looked for in the defined arrays, as far as the fetches filled them.
    std::string StatementOf(TAddress locator, const TReadPointers& read, const TTextOf& textOf);

private:
    struct TDefine {
        uint32_t Position = 0;
        TAddress Array = 0;
    };
    struct TStmt {
        std::vector<TDefine> Defines;
        uint32_t Rows = 1;
    };
    std::unordered_map<TAddress, TStmt> FDefines;
    // Locators found so far, with their statement's text as it was then.
    std::unordered_map<TAddress, std::string> FLocators;
};
