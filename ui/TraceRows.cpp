#include "TraceRows.h"

#include "Errors.h"

#include <cmath>

std::string ElapsedTimeText(double elapsed)
{
    long long ms = std::llround(std::fabs(elapsed) * MSecsPerDay) % 86400000LL;
    const long long parts[4] = {ms % 1000, ms / 1000 % 60, ms / 60000 % 60, ms / 3600000};
    std::string text;
    for (long long part : parts) {
        if (part == 0)
            continue;
        std::string piece = Format("%2.2lld", part);
        text = text.empty() ? piece : piece + ":" + text;
    }
    return text;
}

std::string OCIResultText(int32_t code)
{
    switch (code) {
    case 0: return "OCI_SUCCESS";
    case 1: return "OCI_SUCCESS_WITH_INFO";
    case 99: return "OCI_NEED_DATA";
    case 100: return "OCI_NO_DATA";
    case -1: return "OCI_ERROR";
    case -2: return "OCI_INVALID_HANDLE";
    case -3123: return "OCI_STILL_EXECUTING";
    case -24200: return "OCI_CONTINUE";
    default: return Format("unknown(%d)", static_cast<int>(code));
    }
}

TListRow TraceRecordRow(const TBreakpointData& record)
{
    return TListRow{record.GetActionText(), {ElapsedTimeText(record.Time), OCIResultText(record.Result), record.Statement}};
}
