// tracefile_bench: what a trace file costs.
//
//   tracefile_bench.exe [ROWS]        (default 1000000)
//
// 1. Writing: the lines of ROWS rows made, as the capture tool makes them, once as its
//    tab-separated rows (seven columns) and once as trace file lines, per row and the one
//    against the other; then the trace file written to disk in 1 MB pieces.
// 2. Opening: the file read and parsed (LoadTraceFile), rows per second, and the parse
//    alone of the text already read.
// 3. Memory: the process's committed private bytes per row held, of the rows as a session
//    delivers them (built in memory) and of the same rows opened from the file.
// On a machine shared with other work the wall-clock figures grow; the opening gives this
// thread's CPU time besides. Figures only; nothing is asserted.
#include "BenchRows.h"
#include "OCITexts.h"
#include "RowExport.h"
#include "TraceFile.h"
#include "TraceRows.h"
#include "Utils.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start)
{
    return std::chrono::duration<double>(TClock::now() - start).count();
}

// The CPU time this thread has used, user and kernel.
double ThreadCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// As the window bench's rows, on two threads; besides, every execute with two binds, every
// fetch with its rows and the odd error with its text.
TTraceFileRow BenchRow(int i, const std::vector<std::string>& texts)
{
    TTraceFileRow row;
    TTraceRecord& record = row.Record;
    if (i % 3 == 0) {
        record.Action = TTraceAction::Execute;
        record.Result = i % 97 == 0 ? OCI_ERROR : OCI_SUCCESS;
        record.Binds.Rows.push_back({{":r", std::to_string(i % 40)}, {":d", "2024-05-01 09:30:00"}});
        record.Binds.RowCount = 1;
        if (record.Result == OCI_ERROR)
            record.Error = "ORA-00942: table or view does not exist";
    } else {
        record.Action = TTraceAction::Fetch;
        record.FetchRows = 10 + i % 5 * 10;
        record.Result = i % 3 == 2 ? OCI_NO_DATA : OCI_SUCCESS;
        record.Rows = record.FetchRows;
    }
    record.Statement = texts[static_cast<size_t>(i / 3) % texts.size()];
    record.ElapsedDays = (1 + i % 250) / MSecsPerDay;
    record.Thread = 0x20 + static_cast<DWORD>(i % 2) * 4;
    record.StartMicroseconds = int64_t{i} * 300;
    return row;
}

// Makes every row's line with make and returns the seconds it took and the bytes made.
template <class TMake>
double TimeLines(int rows, const std::vector<std::string>& texts, TMake make, size_t& bytes)
{
    std::vector<TTraceFileRow> batch;
    double seconds = 0;
    bytes = 0;
    // The rows are built outside the clock, a batch at a time.
    for (int from = 0; from < rows; from += 10000) {
        batch.clear();
        for (int i = from; i < std::min(rows, from + 10000); ++i)
            batch.push_back(BenchRow(i, texts));
        auto start = TClock::now();
        for (const TTraceFileRow& row : batch)
            bytes += make(row).size();
        seconds += SecondsSince(start);
    }
    return seconds;
}

void BenchWriting(int rows, const std::vector<std::string>& texts, const std::string& path)
{
    size_t tsvBytes = 0, jsonBytes = 0;
    double tsv = TimeLines(rows, texts, [](const TTraceFileRow& row) {
        return TextRowLine(TraceRecordRow(row.Record), '\t', true);
    }, tsvBytes);
    double json = TimeLines(rows, texts, [](const TTraceFileRow& row) { return TraceFileRowLine(row); }, jsonBytes);
    std::printf("writing %d rows\n", rows);
    std::printf("  tab-separated rows  %8.3f s  %7.0f ns/row  %7.1f MB\n", tsv, tsv * 1e9 / rows, tsvBytes / 1e6);
    std::printf("  trace file lines    %8.3f s  %7.0f ns/row  %7.1f MB  (%.2f times the tab-separated)\n", json,
                json * 1e9 / rows, jsonBytes / 1e6, json / tsv);

    auto start = TClock::now();
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::string piece = TraceFileHeaderLine(TTraceFileHeader{"bench.exe", 1, 32, "2024-05-01T09:30:00", "int3",
                                                             "execute,fetch,binds,errors,rows", false});
    for (int i = 0; i < rows; ++i) {
        piece += TraceFileRowLine(BenchRow(i, texts));
        if (piece.size() >= (1u << 20) || i + 1 == rows) {
            std::fwrite(piece.data(), 1, piece.size(), out);
            piece.clear();
        }
    }
    std::fclose(out);
    std::printf("  trace file to disk  %8.3f s  (rows built, lines made, written)\n", SecondsSince(start));
}

void BenchOpening(int rows, const std::vector<std::string>& texts, const std::string& path)
{
    // The rows as a session delivers them, held.
    size_t before = PrivateBytes();
    {
        std::vector<TTraceFileRow> held;
        held.reserve(static_cast<size_t>(rows));
        for (int i = 0; i < rows; ++i)
            held.push_back(BenchRow(i, texts));
        std::printf("memory\n  rows built          %7.0f bytes/row\n",
                    static_cast<double>(PrivateBytes() - before) / rows);
    }

    before = PrivateBytes();
    auto start = TClock::now();
    double cpu = ThreadCpuSeconds();
    TTraceFile file = LoadTraceFile(path);
    double seconds = SecondsSince(start);
    cpu = ThreadCpuSeconds() - cpu;
    size_t opened = PrivateBytes() - std::min(before, PrivateBytes());
    std::printf("  rows opened         %7.0f bytes/row\n", static_cast<double>(opened) / rows);
    std::printf("opening %zu rows\n  read and parsed     %8.3f s  %9.0f rows/s  (CPU %.3f s, %.0f rows/s)\n",
                file.Rows.size(), seconds, file.Rows.size() / seconds, cpu, file.Rows.size() / cpu);
    file = TTraceFile();

    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    start = TClock::now();
    cpu = ThreadCpuSeconds();
    size_t parsed = ParseTraceFile(text).Rows.size();
    seconds = SecondsSince(start);
    cpu = ThreadCpuSeconds() - cpu;
    std::printf("  parsed alone        %8.3f s  %9.0f rows/s  (CPU %.3f s, %.0f rows/s)\n", seconds, parsed / seconds,
                cpu, parsed / cpu);
}

} // namespace

int main(int argc, char** argv)
{
    int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
    std::vector<std::string> texts = SqlTexts();
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::string path = std::string(folder) + "tracefile_bench.jsonl";
    BenchWriting(rows, texts, path);
    BenchOpening(rows, texts, path);
    DeleteFileA(path.c_str());
    return 0;
}
