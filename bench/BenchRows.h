// What the benches of long traces share: the statements their rows carry and the
// process's committed memory, so that their figures compare.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <string>
#include <vector>

// The process's committed private memory (Wine leaves PrivateUsage at zero but keeps
// PagefileUsage, which counts the same).
inline size_t PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    return std::max<size_t>(counters.PrivateUsage, counters.PagefileUsage);
}

// A realistic mix: 40 statements of 60 to 400 characters.
inline std::vector<std::string> SqlTexts()
{
    std::vector<std::string> texts;
    for (int i = 0; i < 40; ++i) {
        std::string text = "SELECT o.order_id, o.customer_id, o.amount, c.name\r\n  FROM orders o\r\n  JOIN customers c "
                           "ON c.customer_id = o.customer_id\r\n WHERE o.region_id = :r" +
                           std::to_string(i);
        text.resize(60 + static_cast<size_t>(i) * 9, ' ');
        texts.push_back(text);
    }
    return texts;
}
