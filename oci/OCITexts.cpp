#include "OCITexts.h"

#include "Errors.h"
#include "Utils.h"

#include <windows.h>

#include <cmath>

const char* const UnavailableStatement = "<unavailable>";
const char* const CommitsOnSuccessNote = "Commits on success (OCI_COMMIT_ON_SUCCESS)";

std::string ActionText(const TTraceRecord& record)
{
    switch (record.Action) {
    case TTraceAction::Prepare: return "Prepare";
    case TTraceAction::Execute: return "Execute";
    case TTraceAction::Fetch: return Format("Fetch (%d)", static_cast<int>(record.FetchRows));
    case TTraceAction::Connect: return "Connect";
    case TTraceAction::Disconnect: return "Disconnect";
    case TTraceAction::Commit: return "Commit";
    case TTraceAction::Rollback: return "Rollback";
    case TTraceAction::LobRead: return "LOB read";
    case TTraceAction::LobWrite: return "LOB write";
    case TTraceAction::LobLength: return "LOB length";
    case TTraceAction::LobTrim: return "LOB trim";
    case TTraceAction::Ping: return "Ping";
    case TTraceAction::Begin: return "Begin";
    case TTraceAction::PrepareCommit: return "Prepare commit";
    case TTraceAction::Forget: return "Forget";
    case TTraceAction::Detach: return "Detach";
    }
    return "";
}

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
    case OCI_SUCCESS: return "OCI_SUCCESS";
    case OCI_SUCCESS_WITH_INFO: return "OCI_SUCCESS_WITH_INFO";
    case OCI_NEED_DATA: return "OCI_NEED_DATA";
    case OCI_NO_DATA: return "OCI_NO_DATA";
    case OCI_ERROR: return "OCI_ERROR";
    case OCI_INVALID_HANDLE: return "OCI_INVALID_HANDLE";
    case OCI_STILL_EXECUTING: return "OCI_STILL_EXECUTING";
    case OCI_CONTINUE: return "OCI_CONTINUE";
    default: return Format("unknown(%d)", static_cast<int>(code));
    }
}

bool IsValidUtf8(const std::string& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t more;
        uint32_t min, code;
        if ((c & 0xE0) == 0xC0) {
            more = 1, min = 0x80, code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2, min = 0x800, code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3, min = 0x10000, code = c & 0x07;
        } else {
            return false;
        }
        if (i + more >= n)
            return false;
        for (size_t k = 1; k <= more; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8.
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

static std::string WideToUtf8(const wchar_t* text, size_t length)
{
    if (length == 0)
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

std::string NarrowTextToUtf8(const std::string& bytes)
{
    if (IsValidUtf8(bytes))
        return bytes;
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
    return WideToUtf8(wide.data(), wide.size());
}

std::string TextToUtf8(const std::string& bytes, bool wide)
{
    return wide ? WideTextToUtf8(bytes) : NarrowTextToUtf8(bytes);
}

size_t NulEnd(const std::string& bytes, bool wide)
{
    if (!wide)
        return std::min(bytes.find('\0'), bytes.size());
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        if (bytes[i] == 0 && bytes[i + 1] == 0)
            return i;
    return bytes.size();
}

std::string WideTextToUtf8(const std::string& bytes)
{
    std::wstring wide(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return WideToUtf8(wide.data(), wide.size());
}
