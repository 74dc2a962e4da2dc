#include "OCIEntries.h"

#include "Arch.h"
#include "OCIBreaks.h"

// The rules of the table that depend on more than one kind, or on the session.
namespace {

// A fetch's rows counted from the row count grow from its statement's execute on.
bool ExecuteArmed(const TOCIRuleState& state)
{
    return (state.Mask & TraceMaskExecute) || ((state.Mask & TraceMaskRows) && (state.Mask & TraceMaskFetch));
}

// A fetch also tells how many locators of a LOB column it filled.
bool FetchArmed(const TOCIRuleState& state) { return (state.Mask & (TraceMaskFetch | TraceMaskLobs)) != 0; }

// Only handles under a UTF-16 environment are of interest.
bool WideEnvironmentKnown(const TOCIRuleState& state) { return state.WideKnown; }

// Connects, disconnects and the calls that name a session's parts: commits show the labels
// too. The calls that hand over a password are hooked with binds traced as well: a value
// bound where a password lies is not shown.
constexpr TTraceMask SessionKinds = TraceMaskConnect | TraceMaskCommit;
constexpr TTraceMask PasswordKinds = SessionKinds | TraceMaskBinds;

} // namespace

// The table, with the tracer's handlers it names.
struct TOCIEntryTable {
    using T = TOCITracer;
    // A row reads its error handle at the entry (TOCITracer::NewCall).
    static constexpr TOCIHandlers Prepare{&T::PrepareEntered, &T::RowReturned, OCIArgSet("handle error text length")};
    static constexpr TOCIHandlers Prepare2{&T::Prepare2Entered, &T::Prepare2Returned,
                                           OCIArgSet("handle out error text length key keylength mode")};
    static constexpr TOCIHandlers Execute{&T::ExecuteEntered, &T::RowReturned,
                                          OCIArgSet("handle error iters rowoffset mode")};
    static constexpr TOCIHandlers Fetch{&T::FetchEntered, &T::RowReturned, OCIArgSet("handle error rows")};
    static constexpr TOCIHandlers HandleFree{&T::HandleFreeEntered, nullptr, OCIArgSet("handle")};
    static constexpr TOCIHandlers Release{&T::ReleaseEntered, nullptr, OCIArgSet("handle key keylength")};
    static constexpr TOCIHandlers EnvCreate{&T::EnvCreateEntered, &T::WideReturned, OCIArgSet("out mode")};
    static constexpr TOCIHandlers HandleAlloc{&T::HandleAllocEntered, &T::WideReturned, OCIArgSet("handle out")};
    // A placeholder is named or numbered.
    static constexpr TOCIHandlers Bind{&T::BindEntered, &T::BindReturned,
                                       OCIArgSet("handle out value size type indicator altlength mode")};
    static constexpr TOCIHandlers BindArray{&T::BindArrayEntered, nullptr,
                                            OCIArgSet("handle valueskip indicatorskip lengthskip")};
    static constexpr TOCIHandlers BindDynamic{&T::BindDynamicEntered, nullptr, OCIArgSet("handle")};
    static constexpr TOCIHandlers ErrorGet{&T::ErrorGetEntered, &T::ErrorGetReturned,
                                           OCIArgSet("handle record buffer buffersize")};
    static constexpr TOCIHandlers AttrGet{&T::AttrGetEntered, &T::AttrGetReturned,
                                          OCIArgSet("handle htype attribute size attrtype")};
    static constexpr TOCIHandlers ServerAttach{&T::ServerAttachEntered, nullptr,
                                               OCIArgSet("handle mode connect connectlength")};
    static constexpr TOCIHandlers AttrSet{&T::AttrSetEntered, nullptr, OCIArgSet("handle htype attribute size attrtype")};
    static constexpr TOCIHandlers SessionBegin{&T::SessionBeginEntered, &T::SessionBeginReturned,
                                               OCIArgSet("handle error session credentials")};
    static constexpr TOCIHandlers SessionEnd{&T::SessionEndEntered, &T::SessionEndReturned,
                                             OCIArgSet("handle error session")};
    static constexpr TOCIHandlers SessionGet{&T::SessionGetEntered, &T::ConnectReturned,
                                             OCIArgSet("handle error out session connect connectlength mode")};
    static constexpr TOCIHandlers PoolCreate{
        &T::PoolCreateEntered, &T::PoolCreateReturned,
        OCIArgSet("handle pool out outlength connect connectlength user userlength password passwordlength")};
    // OCILogon has no mode: it is read where there is one.
    static constexpr TOCIHandlers Logon{&T::LogonEntered, &T::ConnectReturned,
                                        OCIArgSet("handle error out user userlength password passwordlength connect "
                                                  "connectlength")};
    static constexpr TOCIHandlers Disconnect{&T::DisconnectEntered, &T::DisconnectReturned, OCIArgSet("handle error")};
    static constexpr TOCIHandlers Trans{&T::TransEntered, &T::RowReturned, OCIArgSet("handle error")};
    static constexpr TOCIHandlers Define{&T::DefineEntered, nullptr, OCIArgSet("handle position value type")};
    // Amounts, offsets, pieces and new lengths are read where the call has them.
    static constexpr TOCIHandlers Lob{&T::LobEntered, &T::LobReturned, OCIArgSet("handle error locator")};
    static constexpr TOCIHandlers Branch{&T::BranchEntered, &T::RowReturned, OCIArgSet("handle error mode")};
    static constexpr TOCIHandlers BranchPrepare{&T::BranchEntered, &T::BranchPrepared, OCIArgSet("handle error mode")};
    static constexpr TOCIHandlers NextResult{&T::NextResultEntered, &T::NextResultReturned, OCIArgSet("handle out")};

    // The signatures follow the published argument lists. A password's argument words tell
    // where it lies, so that nothing read there is shown; its bytes are never read.
    //
    // Late entries: what these calls' entries read lies in their arguments, in the bytes
    // named (copied when the call is made) and in the registry, which late entries reach in
    // the order the calls were made; the others read memory the call itself fills or hands
    // out. An execute reads its bind values while the program waits. OCIServerAttach's
    // connect string is copied with it; the logon calls name two texts, and OCISessionGet
    // and OCISessionPoolCreate read arguments beyond those a late entry carries. OCIAttrSet
    // is never logged: its log entry would carry the bytes of every attribute set,
    // passwords among them.
    //
    // Late returns: a prepare's, an execute's and a fetch's complete a record from the
    // result alone; the others read what the call filled in while the program waits.
    //
    // Filters: OCIAttrGet is asked for many attributes of many handles per statement call,
    // OCIErrorGet for every record of a diagnostic, OCIAttrSet for every setting a program
    // makes: a stub lets through only what their handlers could take.
    //
    // The round trips beyond statements all come late with logged hooks: their entries read
    // arguments only. A LOB call's return reads the amounts it moved and the locators of
    // the statements' LOB columns, OCIStmtGetNextResult's the handle it handed out, while
    // the program waits; a ping's and a branch call's need their result alone.
    // clang-format off
    static constexpr TOCIEntry Entries[] = {
        {.Name = "OCIStmtPrepare", .Call = TOCICall::Prepare, .Required = true,
         .Args = OCISignature("handle error text length - -"), .Handlers = Prepare,
         .Row = TTraceAction::Prepare, .ReturnOnlyWithRow = true, .Late = OCILate(TOCIArg::Text, TOCIArg::Length),
         .LateReturn = true},
        {.Name = "OCIStmtExecute", .Call = TOCICall::Execute, .Required = true,
         .Args = OCISignature("- handle error iters rowoffset - - mode"), .Handlers = Execute,
         .Row = TTraceAction::Execute, .ArmedIf = ExecuteArmed, .ReturnOnlyWithRow = true,
         .Late = OCILateUnless(TraceMaskBinds), .LateReturn = true},
        {.Name = "OCIStmtFetch", .Call = TOCICall::Fetch, .Required = true,
         .Args = OCISignature("handle error rows - -"), .Handlers = Fetch,
         .Row = TTraceAction::Fetch, .ArmedIf = FetchArmed, .Late = OCILate(), .LateReturn = true},
        {.Name = "OCIHandleFree", .Call = TOCICall::HandleFree, .Required = true,
         .Args = OCISignature("handle htype"), .Handlers = HandleFree, .Late = OCILate()},
        {.Name = "OCIStmtPrepare2", .Call = TOCICall::Prepare2, .Required = false,
         .Args = OCISignature("handle out error text length key keylength - mode"), .Handlers = Prepare2,
         .Row = TTraceAction::Prepare},
        {.Name = "OCIStmtRelease", .Call = TOCICall::Release, .Required = false,
         .Args = OCISignature("handle error key keylength -"), .Handlers = Release,
         .Late = OCILate(TOCIArg::Key, TOCIArg::KeyLength)},
        {.Name = "OCIStmtFetch2", .Call = TOCICall::Fetch, .Required = false,
         .Args = OCISignature("handle error rows - - -"), .Handlers = Fetch,
         .Row = TTraceAction::Fetch, .ArmedIf = FetchArmed, .Late = OCILate(), .LateReturn = true},
        {.Name = "OCIEnvCreate", .Call = TOCICall::EnvCreate, .Required = false,
         .Args = OCISignature("out mode - - - - - -"), .Handlers = EnvCreate},
        {.Name = "OCIEnvNlsCreate", .Call = TOCICall::EnvCreate, .Required = false,
         .Args = OCISignature("out mode - - - - - - charset -"), .Handlers = EnvCreate},
        {.Name = "OCIHandleAlloc", .Call = TOCICall::HandleAlloc, .Required = false,
         .Args = OCISignature("handle out htype - -"), .Handlers = HandleAlloc, .ArmedIf = WideEnvironmentKnown},
        // The entries from here on are planted only when their kind of detail, session or
        // transaction is traced.
        {.Name = "OCIBindByName", .Call = TOCICall::Bind, .Required = false,
         .Args = OCISignature("handle out error name namelength value size type indicator altlength - maxarray current mode"),
         .Handlers = Bind, .PlantedBy = TraceMaskBinds},
        {.Name = "OCIBindByName2", .Call = TOCICall::Bind2, .Required = false,
         .Args = OCISignature("handle out error name namelength value size8 type indicator altlength - maxarray current mode"),
         .Handlers = Bind, .PlantedBy = TraceMaskBinds},
        {.Name = "OCIBindByPos", .Call = TOCICall::Bind, .Required = false,
         .Args = OCISignature("handle out error position value size type indicator altlength - maxarray current mode"),
         .Handlers = Bind, .PlantedBy = TraceMaskBinds},
        {.Name = "OCIBindByPos2", .Call = TOCICall::Bind2, .Required = false,
         .Args = OCISignature("handle out error position value size8 type indicator altlength - maxarray current mode"),
         .Handlers = Bind, .PlantedBy = TraceMaskBinds},
        {.Name = "OCIBindArrayOfStruct", .Call = TOCICall::BindArray, .Required = false,
         .Args = OCISignature("handle error valueskip indicatorskip lengthskip -"), .Handlers = BindArray,
         .PlantedBy = TraceMaskBinds, .Late = OCILate()},
        {.Name = "OCIBindDynamic", .Call = TOCICall::BindDynamic, .Required = false,
         .Args = OCISignature("handle error - - - -"), .Handlers = BindDynamic,
         .PlantedBy = TraceMaskBinds, .Late = OCILate()},
        {.Name = "OCIErrorGet", .Call = TOCICall::ErrorGet, .Required = false,
         .Args = OCISignature("handle record - code buffer buffersize htype"), .Handlers = ErrorGet,
         .PlantedBy = TraceMaskErrors, .Late = OCILate(), .Filter = {TOCIArg::Record, 1}},
        {.Name = "OCIAttrGet", .Call = TOCICall::AttrGet, .Required = false,
         .Args = OCISignature("handle htype attribute size attrtype error"), .Handlers = AttrGet,
         .PlantedBy = TraceMaskRows, .Late = OCILate(),
         .Filter = {TOCIArg::HandleType, OCI_HTYPE_STMT, TOCIArg::AttrType, ReadAttributes}},
        {.Name = "OCIServerAttach", .Call = TOCICall::ServerAttach, .Required = false,
         .Args = OCISignature("handle error connect connectlength mode"), .Handlers = ServerAttach,
         .PlantedBy = SessionKinds, .Late = OCILate(TOCIArg::Connect, TOCIArg::ConnectLength)},
        {.Name = "OCIAttrSet", .Call = TOCICall::AttrSet, .Required = false,
         .Args = OCISignature("handle htype attribute size attrtype error"), .Handlers = AttrSet,
         .PlantedBy = PasswordKinds, .Filter = {NoArg, 0, TOCIArg::AttrType, SessionAttributes}},
        {.Name = "OCISessionBegin", .Call = TOCICall::SessionBegin, .Required = false,
         .Args = OCISignature("handle error session credentials mode"), .Handlers = SessionBegin,
         .Row = TTraceAction::Connect, .PlantedBy = SessionKinds, .Late = OCILate()},
        {.Name = "OCISessionEnd", .Call = TOCICall::SessionEnd, .Required = false,
         .Args = OCISignature("handle error session mode"), .Handlers = SessionEnd,
         .Row = TTraceAction::Disconnect, .PlantedBy = SessionKinds, .Late = OCILate()},
        {.Name = "OCISessionGet", .Call = TOCICall::SessionGet, .Required = false,
         .Args = OCISignature("handle error out session connect connectlength - - - - - mode"), .Handlers = SessionGet,
         .Row = TTraceAction::Connect, .PlantedBy = SessionKinds},
        {.Name = "OCISessionRelease", .Call = TOCICall::SessionRelease, .Required = false,
         .Args = OCISignature("handle error - - mode"), .Handlers = Disconnect,
         .Row = TTraceAction::Disconnect, .PlantedBy = SessionKinds, .Late = OCILate()},
        {.Name = "OCISessionPoolCreate", .Call = TOCICall::PoolCreate, .Required = false,
         .Args = OCISignature("handle error pool out outlength connect connectlength - - - user userlength password "
                              "passwordlength mode"),
         .Handlers = PoolCreate, .PlantedBy = PasswordKinds},
        {.Name = "OCILogon", .Call = TOCICall::Logon, .Required = false,
         .Args = OCISignature("handle error out user userlength password passwordlength connect connectlength"),
         .Handlers = Logon, .Row = TTraceAction::Connect, .PlantedBy = PasswordKinds},
        {.Name = "OCILogon2", .Call = TOCICall::Logon2, .Required = false,
         .Args = OCISignature("handle error out user userlength password passwordlength connect connectlength mode"),
         .Handlers = Logon, .Row = TTraceAction::Connect, .PlantedBy = PasswordKinds},
        {.Name = "OCILogoff", .Call = TOCICall::Logoff, .Required = false,
         .Args = OCISignature("handle error"), .Handlers = Disconnect,
         .Row = TTraceAction::Disconnect, .PlantedBy = SessionKinds, .Late = OCILate()},
        {.Name = "OCITransCommit", .Call = TOCICall::TransCommit, .Required = false,
         .Args = OCISignature("handle error -"), .Handlers = Trans,
         .Row = TTraceAction::Commit, .PlantedBy = TraceMaskCommit, .Late = OCILate()},
        {.Name = "OCITransRollback", .Call = TOCICall::TransRollback, .Required = false,
         .Args = OCISignature("handle error -"), .Handlers = Trans,
         .Row = TTraceAction::Rollback, .PlantedBy = TraceMaskCommit, .Late = OCILate()},
        {.Name = "OCIDefineByPos", .Call = TOCICall::Define, .Required = false,
         .Args = OCISignature("handle - error position value size type - - - mode"), .Handlers = Define,
         .PlantedBy = TraceMaskLobs, .Late = OCILate()},
        {.Name = "OCIDefineByPos2", .Call = TOCICall::Define, .Required = false,
         .Args = OCISignature("handle - error position value size8 type - - - mode"), .Handlers = Define,
         .PlantedBy = TraceMaskLobs, .Late = OCILate()},
        {.Name = "OCILobRead2", .Call = TOCICall::Lob2, .Required = false,
         .Args = OCISignature("handle error locator amount charamount offset8 - -8 piece - - - -"), .Handlers = Lob,
         .Row = TTraceAction::LobRead, .PlantedBy = TraceMaskLobs, .Late = OCILate()},
        {.Name = "OCILobRead", .Call = TOCICall::Lob, .Required = false,
         .Args = OCISignature("handle error locator amount offset - - - - - -"), .Handlers = Lob,
         .Row = TTraceAction::LobRead, .PlantedBy = TraceMaskLobs, .Late = OCILate()},
        {.Name = "OCILobWrite2", .Call = TOCICall::Lob2, .Required = false,
         .Args = OCISignature("handle error locator amount charamount offset8 - -8 piece - - - -"), .Handlers = Lob,
         .Row = TTraceAction::LobWrite, .PlantedBy = TraceMaskLobs, .Late = OCILate()},
        {.Name = "OCILobWrite", .Call = TOCICall::Lob, .Required = false,
         .Args = OCISignature("handle error locator amount offset - - piece - - - -"), .Handlers = Lob,
         .Row = TTraceAction::LobWrite, .PlantedBy = TraceMaskLobs, .Late = OCILate()},
        {.Name = "OCILobWriteAppend2", .Call = TOCICall::Lob2, .Required = false,
         .Args = OCISignature("handle error locator amount charamount - -8 piece - - - -"), .Handlers = Lob,
         .Row = TTraceAction::LobWrite, .PlantedBy = TraceMaskLobs, .Late = OCILate()},
        {.Name = "OCILobGetLength2", .Call = TOCICall::Lob2, .Required = false,
         .Args = OCISignature("handle error locator amount"), .Handlers = Lob,
         .Row = TTraceAction::LobLength, .PlantedBy = TraceMaskLobs, .Late = OCILate()},
        {.Name = "OCILobGetLength", .Call = TOCICall::Lob, .Required = false,
         .Args = OCISignature("handle error locator amount"), .Handlers = Lob,
         .Row = TTraceAction::LobLength, .PlantedBy = TraceMaskLobs, .Late = OCILate()},
        {.Name = "OCILobTrim2", .Call = TOCICall::Lob2, .Required = false,
         .Args = OCISignature("handle error locator newlength8"), .Handlers = Lob,
         .Row = TTraceAction::LobTrim, .PlantedBy = TraceMaskLobs, .Late = OCILate()},
        {.Name = "OCILobTrim", .Call = TOCICall::Lob, .Required = false,
         .Args = OCISignature("handle error locator newlength"), .Handlers = Lob,
         .Row = TTraceAction::LobTrim, .PlantedBy = TraceMaskLobs, .Late = OCILate()},
        {.Name = "OCIPing", .Call = TOCICall::Ping, .Required = false,
         .Args = OCISignature("handle error -"), .Handlers = Trans,
         .Row = TTraceAction::Ping, .PlantedBy = TraceMaskConnect, .Late = OCILate(), .LateReturn = true},
        {.Name = "OCITransStart", .Call = TOCICall::TransBranch, .Required = false,
         .Args = OCISignature("handle error - mode"), .Handlers = Branch,
         .Row = TTraceAction::Begin, .PlantedBy = TraceMaskCommit, .Late = OCILate(), .LateReturn = true},
        {.Name = "OCITransPrepare", .Call = TOCICall::TransPrepare, .Required = false,
         .Args = OCISignature("handle error mode"), .Handlers = BranchPrepare,
         .Row = TTraceAction::PrepareCommit, .PlantedBy = TraceMaskCommit, .Late = OCILate(), .LateReturn = true},
        {.Name = "OCITransForget", .Call = TOCICall::TransBranch, .Required = false,
         .Args = OCISignature("handle error mode"), .Handlers = Branch,
         .Row = TTraceAction::Forget, .PlantedBy = TraceMaskCommit, .Late = OCILate(), .LateReturn = true},
        {.Name = "OCITransDetach", .Call = TOCICall::TransBranch, .Required = false,
         .Args = OCISignature("handle error mode"), .Handlers = Branch,
         .Row = TTraceAction::Detach, .PlantedBy = TraceMaskCommit, .Late = OCILate(), .LateReturn = true},
        {.Name = "OCIStmtGetNextResult", .Call = TOCICall::NextResult, .Required = false,
         .Args = OCISignature("handle error out - mode"), .Handlers = NextResult,
         .PlantedBy = TraceMaskFetch, .Late = OCILate()},
    };
    // clang-format on
};

const TOCIEntry* const OCIEntries = TOCIEntryTable::Entries;
const int OCIEntryCount = static_cast<int>(std::size(TOCIEntryTable::Entries));

int TOCIEntry::Word(int n, bool x64) const
{
    if (x64)
        return n;
    int word = n;
    for (int k = 1; k < n; ++k)
        if (Args.Wide & (1u << k))
            ++word;
    return word;
}

uint64_t OCIArgument(const TOCIEntry& entry, TCallFrame& frame, TOCIArg arg)
{
    int n = entry.Arg(arg);
    if (!n)
        return 0;
    int word = entry.Word(n, frame.Is64());
    if (frame.Is64() || !(entry.Args.Wide & (1u << n)))
        return frame.Arg(word);
    // Two 32-bit stack words, the low half first.
    return frame.Arg32(word) | static_cast<uint64_t>(frame.Arg32(word + 1)) << 32;
}

int OCIHookIdOf(TOCICall call)
{
    for (int i = 0; i < OCIEntryCount; ++i)
        if (OCIEntries[i].Call == call)
            return i;
    return -1;
}
