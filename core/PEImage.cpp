#include "PEImage.h"

#include "Errors.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

template <class T>
T ReadValue(const std::vector<unsigned char>& bytes, size_t offset)
{
    T value{};
    if (offset + sizeof(T) > bytes.size())
        RaiseOSError(ERROR_BAD_EXE_FORMAT);
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

} // namespace

TModuleImage::TModuleImage(TProcessInfo& process, TAddress base) : FBase(base)
{
    std::vector<unsigned char> headers(4096);
    process.ReadMemory(base, headers.data(), headers.size());
    if (ReadValue<uint16_t>(headers, 0) != IMAGE_DOS_SIGNATURE)
        RaiseOSError(ERROR_BAD_EXE_FORMAT);
    size_t nt = ReadValue<uint32_t>(headers, 0x3C);
    if (nt > headers.size() - 0x100 || ReadValue<uint32_t>(headers, nt) != IMAGE_NT_SIGNATURE)
        RaiseOSError(ERROR_BAD_EXE_FORMAT);
    size_t optional = nt + 4 + sizeof(IMAGE_FILE_HEADER);
    uint16_t magic = ReadValue<uint16_t>(headers, optional);
    if (magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC && magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        RaiseOSError(ERROR_BAD_EXE_FORMAT);
    FIs64 = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    FSizeOfImage = ReadValue<uint32_t>(headers, optional + 56);
    // The data directories follow the fixed part of the optional header; the export
    // directory is the first of them.
    size_t directories = optional + (FIs64 ? 112 : 96);
    uint32_t count = ReadValue<uint32_t>(headers, directories - 4);
    if (count == 0)
        return;
    uint32_t exportRva = ReadValue<uint32_t>(headers, directories);
    uint32_t exportSize = ReadValue<uint32_t>(headers, directories + 4);
    if (exportRva == 0 || exportSize == 0 || exportRva >= FSizeOfImage || exportSize > FSizeOfImage - exportRva)
        return;
    ReadExports(process, exportRva, exportSize);
}

void TModuleImage::ReadExports(TProcessInfo& process, uint32_t exportRva, uint32_t exportSize)
{
    const TAddress base = FBase;
    std::vector<unsigned char> table(exportSize);
    process.ReadMemory(base + exportRva, table.data(), table.size());
    auto directory = ReadValue<IMAGE_EXPORT_DIRECTORY>(table, 0);
    // The name, ordinal and function arrays may lie outside the export directory's
    // stated range; read each where it is.
    auto readArray = [&](uint32_t rva, size_t bytes) {
        std::vector<unsigned char> data(bytes);
        if (bytes == 0)
            return data;
        if (rva >= FSizeOfImage || bytes > FSizeOfImage - rva)
            RaiseOSError(ERROR_BAD_EXE_FORMAT);
        if (rva >= exportRva && rva - exportRva + bytes <= exportSize)
            std::memcpy(data.data(), table.data() + (rva - exportRva), bytes);
        else
            process.ReadMemory(base + rva, data.data(), bytes);
        return data;
    };
    constexpr uint32_t MaxExports = 1u << 16;
    uint32_t functions = std::min<uint32_t>(directory.NumberOfFunctions, MaxExports);
    uint32_t names = std::min<uint32_t>(directory.NumberOfNames, MaxExports);
    std::vector<unsigned char> addressTable = readArray(directory.AddressOfFunctions, functions * 4u);
    std::vector<unsigned char> nameTable = readArray(directory.AddressOfNames, names * 4u);
    std::vector<unsigned char> ordinalTable = readArray(directory.AddressOfNameOrdinals, names * 2u);

    auto stringAt = [&](uint32_t rva) -> std::string {
        if (rva >= exportRva && rva < exportRva + exportSize) {
            const char* start = reinterpret_cast<const char*>(table.data() + (rva - exportRva));
            return std::string(start, strnlen(start, exportRva + exportSize - rva));
        }
        if (rva >= FSizeOfImage)
            return "";
        char buffer[256] = {};
        size_t size = std::min<size_t>(sizeof(buffer) - 1, FSizeOfImage - rva);
        try {
            process.ReadMemory(base + rva, buffer, size);
        } catch (const EOSError&) {
            return "";
        }
        return buffer;
    };

    for (uint32_t i = 0; i < names; ++i) {
        uint16_t ordinal = ReadValue<uint16_t>(ordinalTable, i * 2u);
        if (ordinal >= functions)
            continue;
        uint32_t rva = ReadValue<uint32_t>(addressTable, ordinal * 4u);
        std::string name = stringAt(ReadValue<uint32_t>(nameTable, i * 4u));
        if (name.empty() || rva == 0 || rva >= FSizeOfImage)
            continue;
        TExport entry;
        // An address inside the export directory is no code but a forwarder string.
        if (rva >= exportRva && rva < exportRva + exportSize) {
            entry.Forward = stringAt(rva);
            if (entry.Forward.empty())
                continue;
        } else {
            entry.Address = base + rva;
        }
        FExports.emplace(std::move(name), std::move(entry));
    }
}

const TExport* TModuleImage::Find(const std::string& name) const
{
    auto it = FExports.find(name);
    return it == FExports.end() ? nullptr : &it->second;
}

bool SplitForwarder(const std::string& forward, std::string& moduleName, std::string& exportName)
{
    size_t dot = forward.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 >= forward.size() || forward[dot + 1] == '#')
        return false;
    moduleName = forward.substr(0, dot);
    exportName = forward.substr(dot + 1);
    if (moduleName.find('.') == std::string::npos)
        moduleName += ".DLL";
    return true;
}
