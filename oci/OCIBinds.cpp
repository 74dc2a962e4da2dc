#include "OCIBinds.h"

#include "BindValues.h"
#include "Errors.h"

#include <algorithm>

namespace {

const char* const UnreadableName = ":<unreadable>";

// Placeholders are the same with or without their ":", unquoted ones whatever their letter
// case; ":3" is position 3.
std::string NameKey(const std::string& name)
{
    if (name == UnreadableName || name.empty())
        return "";
    std::string key = name.substr(name[0] == ':' ? 1 : 0);
    if (!key.empty() && key[0] == '"')
        return key;
    for (char& c : key)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return key;
}

} // namespace

std::string BindName(const std::string* placeholder)
{
    if (!placeholder)
        return UnreadableName;
    return !placeholder->empty() && (*placeholder)[0] == ':' ? *placeholder : ":" + *placeholder;
}

std::string BindName(uint32_t position) { return Format(":%u", static_cast<unsigned>(position)); }

void TOCIBinds::Add(TAddress stmt, TOCIBind bind)
{
    std::vector<TOCIBind>& binds = FByStmt[stmt];
    std::string key = NameKey(bind.Name);
    auto same = std::find_if(binds.begin(), binds.end(),
                             [&](const TOCIBind& b) { return !key.empty() && NameKey(b.Name) == key; });
    bind.Made = ++FMade;
    if (same != binds.end())
        *same = bind;
    else
        binds.push_back(bind);
    FStmtOf[bind.Handle] = stmt;
}

TOCIBind* TOCIBinds::Find(TAddress bindHandle)
{
    auto stmt = FStmtOf.find(bindHandle);
    if (stmt == FStmtOf.end())
        return nullptr;
    TOCIBind* latest = nullptr;
    for (TOCIBind& bind : FByStmt[stmt->second])
        if (bind.Handle == bindHandle && (!latest || bind.Made > latest->Made))
            latest = &bind;
    return latest;
}

void TOCIBinds::SetSkips(TAddress bindHandle, uint64_t value, uint64_t indicator, uint64_t length)
{
    if (TOCIBind* bind = Find(bindHandle)) {
        bind->ValueSkip = value;
        bind->IndicatorSkip = indicator;
        bind->LengthSkip = length;
    }
}

void TOCIBinds::SetAtExecute(TAddress bindHandle)
{
    if (TOCIBind* bind = Find(bindHandle))
        bind->AtExecute = true;
}

void TOCIBinds::Forget(TAddress stmt)
{
    auto found = FByStmt.find(stmt);
    if (found == FByStmt.end())
        return;
    for (const TOCIBind& bind : found->second) {
        auto of = FStmtOf.find(bind.Handle);
        if (of != FStmtOf.end() && of->second == stmt)
            FStmtOf.erase(of);
    }
    FByStmt.erase(found);
}

std::string TOCIBinds::ValueText(TSafeReader& reader, const TOCIBind& bind, uint64_t row,
                                 const TSecretMemory& secrets) const
{
    if (bind.AtExecute)
        return BindAtExecuteText;
    if (bind.Indicator) {
        int16_t indicator = 0;
        if (!reader.Read(bind.Indicator + row * (bind.IndicatorSkip ? bind.IndicatorSkip : 2), &indicator, 2))
            return BindUnreadableText;
        if (indicator == -1)
            return BindNullText;
    }
    if (bind.Size < 0)
        return BindUnreadableText;
    uint64_t length = static_cast<uint64_t>(bind.Size);
    if (bind.Lengths) {
        uint32_t actual = 0;
        if (!reader.Read(bind.Lengths + row * (bind.LengthSkip ? bind.LengthSkip : bind.LengthSize), &actual,
                         bind.LengthSize))
            return BindUnreadableText;
        // Never a byte beyond the buffer the program declared.
        length = std::min<uint64_t>(length, actual);
    }
    TBoundValue value;
    value.Type = bind.Type;
    value.Length = length;
    value.Wide = bind.Wide;
    uint64_t needed = BoundBytesNeeded(bind.Type, length, bind.Wide);
    TAddress at = bind.Value + row * (bind.ValueSkip ? bind.ValueSkip : static_cast<uint64_t>(bind.Size));
    if (ShowsBytes(bind.Type) && secrets.Overlaps(at, needed))
        return BindHiddenText;
    if (needed && !reader.Read(at, static_cast<size_t>(needed), value.Bytes))
        return BindUnreadableText;
    return BoundValueText(value);
}

TBindRows TOCIBinds::Items(TSafeReader& reader, TAddress stmt, uint32_t iters, uint32_t rowOffset, bool hide,
                           const TSecretMemory& secrets) const
{
    TBindRows items;
    auto found = FByStmt.find(stmt);
    if (found == FByStmt.end() || found->second.empty())
        return items;
    items.RowCount = std::max<uint32_t>(iters, 1);
    for (uint32_t r = 0; r < std::min(items.RowCount, BindRowsShown); ++r) {
        std::vector<TBindItem>& row = items.Rows.emplace_back();
        for (const TOCIBind& bind : found->second)
            row.push_back({bind.Name, hide ? std::string(BindHiddenText)
                                           : ValueText(reader, bind, uint64_t(rowOffset) + r, secrets)});
    }
    return items;
}
