// The OCI entry points the tracer watches, as data: where each call's arguments are, what
// the call means to the tracer (the row it makes, the kinds of trace that plant and arm its
// hook, whether its return is wanted, whether it may come late, which of its calls a stub
// lets through) and the tracer's handlers of its entry and return. The engine plants a hook
// on each one the module exports. A new entry is one row of the table plus its handlers.
#pragma once

#include "TraceMask.h"
#include "TraceRecord.h"

#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

class IHookHost;
class TCallData;
class TCallFrame;
class TOCITracer;

enum class TOCICall : uint8_t {
    Prepare,      // OCIStmtPrepare: a row, and the text for the registry
    Prepare2,     // OCIStmtPrepare2: the same, the handle known only at the return
    Execute,
    Fetch,        // OCIStmtFetch and OCIStmtFetch2
    HandleFree,   // drops a handle from the registry
    Release,      // OCIStmtRelease: the same, for a statement given back to the cache
    EnvCreate,    // an environment, perhaps a UTF-16 one
    HandleAlloc,  // a handle under a UTF-16 parent is UTF-16 too
    Bind,         // OCIBindByName, OCIBindByPos: a value an execute will read
    Bind2,        // their second generation: an 8-byte size, 4-byte lengths
    BindArray,    // OCIBindArrayOfStruct: the strides of a bind's arrays
    BindDynamic,  // OCIBindDynamic: the values come at execute time
    ErrorGet,     // the text of an error a call left
    AttrGet,      // a statement's rows, among much else
    // Sessions and transactions (SessionCalls): rows of their own, and the calls that
    // name the parts of their labels.
    ServerAttach,
    AttrSet,
    SessionBegin,
    SessionEnd,
    SessionGet,
    SessionRelease,
    PoolCreate,
    Logon,
    Logon2,
    Logoff,
    TransCommit,
    TransRollback,
    // Round trips beyond statements (LobCalls, TransactionCalls).
    Define,       // OCIDefineByPos, OCIDefineByPos2: a LOB column's locators
    Lob,          // the older LOB calls: 4-byte amounts
    Lob2,         // their second generation: 8-byte amounts
    Ping,
    TransBranch,  // OCITransStart, OCITransForget, OCITransDetach
    TransPrepare,
    NextResult,   // OCIStmtGetNextResult: an implicit result's statement handle
};

// What an argument is to the tracer. An entry's signature names each of its arguments by
// one of these words, in order.
enum class TOCIArg : uint8_t {
    Handle,     // the statement handle, the handle freed, the parent handle, the bind handle,
                // the service context, server, environment or pool handle a session call is about
    Error,      // the error handle the call reports on
    Text,
    Length,
    Key,
    KeyLength,
    Rows,       // rows asked for by a fetch
    Out,        // where the call stores the handle (or the pool name) it makes
    Mode,
    Charset,
    Iters,
    RowOffset,
    Name,       // a placeholder's text and length
    NameLength,
    Position,
    Value,      // a bind's buffer and its size
    Size,
    Type,
    Indicator,
    AltLength,  // a bind's actual lengths
    MaxArray,
    Current,
    ValueSkip,
    IndicatorSkip,
    LengthSkip,
    Record,     // OCIErrorGet's record number, code, buffer and its size
    Code,
    Buffer,
    BufferSize,
    HandleType,
    Attribute,  // OCIAttrGet's out buffer or OCIAttrSet's value (its size: Size); the attribute id
    AttrType,
    Session,    // a session or authentication handle
    Credentials,
    User,       // a user name and its length
    UserLength,
    Connect,    // a connect string, or the name of a pool, and its length
    ConnectLength,
    Pool,       // the session pool a call makes
    OutLength,  // where the call stores the length of the name it makes
    Password,   // where a password lies, and its length: its bytes are never read
    PasswordLength,
    Locator,    // a LOB call's locator, its in/out amounts of bytes and characters, the
    Amount,     // offset it starts at, its piece and a trim's new length
    CharAmount,
    Offset,
    Piece,
    NewLength,
    Count
};

// Where an entry's arguments are, from its signature.
struct TOCIArgs {
    // Position of each argument, counted from 1; 0 where the call has no such argument.
    int8_t Position[static_cast<int>(TOCIArg::Count)] = {};
    int8_t Count = 0;
    // Bit k: argument k (from 1) is 8 bytes wide, two stack words in a 32-bit program.
    uint32_t Wide = 0;
};

// A signature: one word per argument, in order: the name of a TOCIArg in lower case
// ("handle", "error", "altlength", ...), "-" for one the tracer never reads, a word with
// "8" at its end for an 8-byte integer. A word that names nothing stops the build.
constexpr TOCIArgs OCISignature(std::string_view words);

// A set of arguments, bit k for the TOCIArg of value k.
using TOCIArgSet = uint64_t;
static_assert(static_cast<int>(TOCIArg::Count) <= 64);
// The arguments a list of signature words names.
constexpr TOCIArgSet OCIArgSet(std::string_view words);
// No argument, where a row names one only for some entries.
constexpr TOCIArg NoArg = TOCIArg::Count;

struct TOCIEntry;

// The tracer's handlers of an entry's calls. Enter returns what the return needs, or
// nothing when the call's return is of no interest; Return takes it back.
using TOCIEnter = std::unique_ptr<TCallData> (TOCITracer::*)(IHookHost& host, const TOCIEntry& entry,
                                                             TCallFrame& frame);
using TOCIReturn = void (TOCITracer::*)(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);

struct TOCIHandlers {
    TOCIEnter Enter = nullptr;
    // None: Enter never keeps anything, and the returns are not reported at all.
    TOCIReturn Return = nullptr;
    // What Enter reads of every call it takes: the signature of each entry it serves names
    // these (the arguments it reads only where they exist are not listed).
    TOCIArgSet Reads = 0;
};

// What a rule of the table may depend on besides the entry: the session's trace mask, and
// whether a UTF-16 environment has been made.
struct TOCIRuleState {
    TTraceMask Mask = 0;
    bool WideKnown = false;
};
using TOCIRule = bool (*)(const TOCIRuleState& state);

// Whether an entry's calls may reach the tracer late (see ICallTracer::LateEntry), with the
// bytes that one argument points to and another counts copied at the call.
struct TOCILate {
    bool Allowed = false;
    TOCIArg Bytes = NoArg;
    TOCIArg Length = NoArg;
    // Kinds that, traced, make the entry read more than that: it is then taken at once.
    TTraceMask UnlessTraced = 0;
};
constexpr TOCILate OCILate(TOCIArg bytes = NoArg, TOCIArg length = NoArg) { return {true, bytes, length, 0}; }
constexpr TOCILate OCILateUnless(TTraceMask kinds) { return {true, NoArg, NoArg, kinds}; }

// Which calls a stub reports (see TEntryFilter): those whose argument Arg is Value and
// whose argument ListArg is one of List. NoArg leaves a test out.
struct TOCIFilter {
    TOCIArg Arg = NoArg;
    uint32_t Value = 0;
    TOCIArg ListArg = NoArg;
    std::span<const uint32_t> List;
};

struct TOCIEntry {
    const char* Name;
    TOCICall Call;
    // A required entry missing from the module ends the session; an optional one (of a
    // newer library) is simply not traced.
    bool Required;
    TOCIArgs Args;
    TOCIHandlers Handlers;
    // The row the call makes, if any.
    std::optional<TTraceAction> Row = {};
    // The kinds that plant the entry's hook, any one of them; none: every session does.
    TTraceMask PlantedBy = 0;
    // When a planted hook stops calls; none: always.
    TOCIRule ArmedIf = nullptr;
    // The return is wanted only while the row's kind is traced (else: whenever there is a
    // return handler).
    bool ReturnOnlyWithRow = false;
    TOCILate Late = {};
    // Whether, taken late, the call's return may come late too: Return completes the
    // record from the result alone.
    bool LateReturn = false;
    TOCIFilter Filter = {};

    // The position of an argument, counted from 1; 0 when the call has none.
    int Arg(TOCIArg arg) const { return arg < NoArg ? Args.Position[static_cast<int>(arg)] : 0; }
    // The stack word of argument position n (from 1) as TCallFrame counts it: the
    // position itself on x64, where every argument takes one word, and behind the extra
    // words of the 8-byte arguments before it in a 32-bit program.
    int Word(int n, bool x64) const;
    // The machine words of all arguments.
    int Words(bool x64) const { return Word(Args.Count + 1, x64) - 1; }
};

// Argument arg of a call stopped at its entry, 0 when the call has none: a pointer or a
// 32-bit value in a machine word (the upper half of a 32-bit value on x64 is garbage:
// cut it), an 8-byte integer whole on both machines.
uint64_t OCIArgument(const TOCIEntry& entry, TCallFrame& frame, TOCIArg arg);
inline uint32_t OCIArgument32(const TOCIEntry& entry, TCallFrame& frame, TOCIArg arg)
{
    return static_cast<uint32_t>(OCIArgument(entry, frame, arg));
}

// A call's arguments at its entry, by what they are to the tracer.
class TOCICallArgs {
public:
    TOCICallArgs(const TOCIEntry& entry, TCallFrame& frame) : FEntry(entry), FFrame(frame) {}
    uint64_t operator()(TOCIArg arg) const { return OCIArgument(FEntry, FFrame, arg); }
    uint32_t Dword(TOCIArg arg) const { return OCIArgument32(FEntry, FFrame, arg); }

private:
    const TOCIEntry& FEntry;
    TCallFrame& FFrame;
};

// Every watched export, in planting order; a hook's id is its position here.
extern const TOCIEntry* const OCIEntries;
extern const int OCIEntryCount;
// The hook id of a call's first entry in the table, -1 for none.
int OCIHookIdOf(TOCICall call);

// OCIEnvCreate's mode bit and OCIEnvNlsCreate's character set id for UTF-16 text.
constexpr uint32_t OCI_UTF16 = 0x4000;
constexpr uint16_t OCI_UTF16ID = 1000;
// OCIStmtExecute's mode bit that commits the transaction when the statement succeeds.
constexpr uint32_t OCI_COMMIT_ON_SUCCESS = 0x20;

// ---------------------------------------------------------------------------

namespace OCISignatureWords {
inline constexpr std::string_view Names[] = {
    "handle",   "error",   "text",      "length",       "key",        "keylength", "rows",    "out",
    "mode",     "charset", "iters",     "rowoffset",    "name",       "namelength", "position", "value",
    "size",     "type",    "indicator", "altlength",    "maxarray",   "current",   "valueskip",
    "indicatorskip", "lengthskip", "record", "code", "buffer", "buffersize", "htype", "attribute", "attrtype",
    "session",  "credentials", "user",  "userlength",   "connect",    "connectlength", "pool", "outlength",
    "password", "passwordlength", "locator", "amount", "charamount", "offset", "piece", "newlength",
};
static_assert(std::size(Names) == static_cast<size_t>(TOCIArg::Count));
} // namespace OCISignatureWords

constexpr TOCIArgs OCISignature(std::string_view words)
{
    TOCIArgs args;
    size_t at = 0;
    while (at < words.size()) {
        size_t end = words.find(' ', at);
        if (end == std::string_view::npos)
            end = words.size();
        std::string_view word = words.substr(at, end - at);
        at = end + 1;
        if (word.empty())
            continue;
        int position = ++args.Count;
        if (word.back() == '8') {
            args.Wide |= 1u << position;
            word.remove_suffix(1);
        }
        if (word == "-")
            continue;
        bool known = false;
        for (size_t i = 0; i < std::size(OCISignatureWords::Names); ++i)
            if (OCISignatureWords::Names[i] == word) {
                args.Position[i] = static_cast<int8_t>(position);
                known = true;
            }
        if (!known)
            throw "unknown word in an OCI signature";
    }
    return args;
}

constexpr TOCIArgSet OCIArgSet(std::string_view words)
{
    TOCIArgs args = OCISignature(words);
    TOCIArgSet set = 0;
    for (int i = 0; i < static_cast<int>(TOCIArg::Count); ++i)
        if (args.Position[i])
            set |= TOCIArgSet(1) << i;
    return set;
}
