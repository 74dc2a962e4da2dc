// The texts of a trace row, shared by the main window and the capture tool.
#pragma once

#include "SysProcs.h"
#include "Utils.h"

#include <cstdint>
#include <string>

// The Time column: the non-zero parts of the elapsed time (in days), smallest first in
// the order milliseconds, seconds, minutes, hours, each at least two digits, joined by ":".
std::string ElapsedTimeText(double elapsed);
// The Result column: the OCI return code's name, or unknown(%d).
std::string OCIResultText(int32_t code);
// The row of one trace record: Action, Time, Result, Statement.
TListRow TraceRecordRow(const TBreakpointData& record);
