// A client whose calls happen inside its own calls: the stand-in's callback (directive
// callback=N, run halfway through an Execute on the calling thread) prepares, executes
// and fetches the next level's statement, whose Execute calls back again, down to a
// given depth. Several threads do this at once, every Execute through one call site, so
// calls of one thread are nested at one return address and calls of different threads
// share it too. Writes the ground-truth log of ocirun (fixtures/README.md).
//
//   nestrun.exe [-log FILE] [-dll PATH] [-threads N] [-rounds R] [-depth D]
//
// Defaults: OCI.DLL beside the program, 4 threads, 5 rounds, 9 levels. Every result is
// checked: exit 0 all right, 4 a wrong result, 2 the library cannot be loaded, 1 a bad
// command line. Prints "nestrun: done" before a normal end.
#include "GroundTruth.h"
#include "OciApi.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

TOciApi Api;
TGroundTruth Log;
unsigned Depth = 9;
std::atomic<unsigned> Wrong{0};

// What the callback needs to know on its thread: whose level it is.
struct TThreadContext {
    unsigned Thread = 0;
    unsigned Round = 0;
    std::vector<void*> Statements;  // one per level
};
thread_local TThreadContext* Context = nullptr;

void Expect(sword got, sword want, const char* what, unsigned level)
{
    if (got == want)
        return;
    ++Wrong;
    std::fprintf(stderr, "nestrun: thread %u round %u level %u: %s returned %d, not %d\n", Context->Thread,
                 Context->Round, level, what, static_cast<int>(got), static_cast<int>(want));
}

// Every Execute of every level and thread goes through here: one return address.
__attribute__((noinline, noclone)) sword ExecuteAtOneSite(void* h)
{
    sword r = Api.StmtExecute(nullptr, static_cast<OCIStmt*>(h), nullptr, 1, 0, nullptr, nullptr, OCI_DEFAULT);
    Log.Execute(h, r);
    return r;
}

__attribute__((noinline, noclone)) sword FetchAtOneSite(void* h, ub4 nrows)
{
    sword r = Api.StmtFetch(static_cast<OCIStmt*>(h), nullptr, nrows, OCI_FETCH_NEXT, OCI_DEFAULT);
    Log.Fetch(h, r, nrows);
    return r;
}

// One level: prepare, execute (whose callback runs the next level inside the call),
// then fetch its one row and the end of data. Texts are unique per thread, round and
// level; results alternate between OCI_SUCCESS and OCI_SUCCESS_WITH_INFO.
void Level(unsigned level)
{
    TThreadContext& ctx = *Context;
    void* h = ctx.Statements[level];
    const sword result = static_cast<sword>((ctx.Thread + level) % 2);
    std::string text = "SELECT " + std::to_string(ctx.Thread) + " AS t, " + std::to_string(ctx.Round) + " AS r, " +
                       std::to_string(level) + " AS level FROM nested /*vt rows=1 sleep=2 result=" +
                       std::to_string(result);
    if (level + 1 < Depth)
        text += " callback=" + std::to_string(level + 1);
    text += "*/";
    // Bytes after the text that are not part of it: the length is what counts.
    std::string buffer = text + "#####";
    sword r = Api.StmtPrepare(static_cast<OCIStmt*>(h), nullptr, reinterpret_cast<const OraText*>(buffer.data()),
                              static_cast<ub4>(text.size()), OCI_NTV_SYNTAX, OCI_DEFAULT);
    Log.Prepare(h, r, static_cast<ub4>(text.size()), text);
    Expect(r, OCI_SUCCESS, "prepare", level);
    Expect(ExecuteAtOneSite(h), result, "execute", level);
    Expect(FetchAtOneSite(h, 1), OCI_SUCCESS, "first fetch", level);
    Expect(FetchAtOneSite(h, 1), OCI_NO_DATA, "second fetch", level);
}

// Called by the stand-in inside an Execute, on the calling thread.
extern "C" void NextLevel(int value)
{
    if (Context && value > 0 && static_cast<unsigned>(value) < Depth)
        Level(static_cast<unsigned>(value));
}

void Worker(unsigned thread, unsigned rounds)
{
    TThreadContext ctx;
    ctx.Thread = thread;
    ctx.Statements.resize(Depth);
    for (void*& h : ctx.Statements)
        if (Api.HandleAlloc(nullptr, &h, OCI_HTYPE_STMT, 0, nullptr) != OCI_SUCCESS)
            ++Wrong;
    Context = &ctx;
    for (unsigned round = 0; round < rounds; ++round) {
        ctx.Round = round;
        Level(0);
    }
    Context = nullptr;
    for (void* h : ctx.Statements) {
        sword r = Api.HandleFree(h, OCI_HTYPE_STMT);
        Log.Free(h, r);
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string logPath, dll = "OCI.DLL";
    unsigned threads = 4, rounds = 5;
    for (int i = 1; i < argc; i += 2) {
        std::string opt = argv[i];
        if (i + 1 >= argc) {
            opt.clear();
        } else if (opt == "-log") {
            logPath = argv[i + 1];
            continue;
        } else if (opt == "-dll") {
            dll = argv[i + 1];
            continue;
        } else if (opt == "-threads" || opt == "-rounds" || opt == "-depth") {
            unsigned n = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
            (opt == "-threads" ? threads : opt == "-rounds" ? rounds : Depth) = n;
            if (n > 0 && n <= 64)
                continue;
        }
        std::fprintf(stderr, "usage: nestrun.exe [-log FILE] [-dll PATH] [-threads N] [-rounds R] [-depth D]"
                             " (N, R, D from 1 to 64)\n");
        return 1;
    }
    if (!logPath.empty() && !Log.Open(logPath)) {
        std::fprintf(stderr, "nestrun: cannot create %s\n", logPath.c_str());
        return 1;
    }
    std::string error;
    HMODULE module = LoadOciLibrary(PathBesideExe(dll), Api, error);
    if (!module) {
        std::fprintf(stderr, "nestrun: %s\n", error.c_str());
        return 2;
    }
    Log.Load(ModulePath(module));
    if (!Api.SetCallback) {
        std::fprintf(stderr, "nestrun: the library does not export VTSetCallback\n");
        return 2;
    }
    Api.SetCallback(&NextLevel);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t)
        workers.emplace_back(Worker, t, rounds);
    for (std::thread& w : workers)
        w.join();
    if (Wrong) {
        std::fprintf(stderr, "nestrun: %u wrong results\n", Wrong.load());
        return 4;
    }
    std::printf("nestrun: done\n");
    std::fflush(stdout);
    return 0;
}
