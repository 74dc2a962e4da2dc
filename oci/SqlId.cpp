#include "SqlId.h"

#include "Handles.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <cstdint>

namespace {

struct TCloseAlgorithm {
    void operator()(BCRYPT_ALG_HANDLE h) const { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct TDestroyHash {
    void operator()(BCRYPT_HASH_HANDLE h) const { ::BCryptDestroyHash(h); }
};
using TUniqueAlgorithm = TUniqueAny<BCRYPT_ALG_HANDLE, TCloseAlgorithm, nullptr>;
using TUniqueHash = TUniqueAny<BCRYPT_HASH_HANDLE, TDestroyHash, nullptr>;

// The provider is opened once for the process and shared: a CNG algorithm handle may be
// used from any thread, and opening one costs far more than a hash.
BCRYPT_ALG_HANDLE Md5Provider()
{
    static const TUniqueAlgorithm provider = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&h, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
            h = nullptr;
        return TUniqueAlgorithm(h);
    }();
    return provider.get();
}

// The hash object lives in memory CNG allocates for us (no object buffer given).
bool Md5(std::string_view bytes, unsigned char (&digest)[16])
{
    BCRYPT_ALG_HANDLE algorithm = Md5Provider();
    if (!algorithm)
        return false;
    BCRYPT_HASH_HANDLE raw = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &raw, nullptr, 0, nullptr, 0, 0)))
        return false;
    TUniqueHash hash(raw);
    // BCryptHashData takes a ULONG count: a text past 4 GiB goes in pieces.
    unsigned char nul = 0;
    auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    for (size_t done = 0; done < bytes.size();) {
        ULONG piece = static_cast<ULONG>(std::min<size_t>(bytes.size() - done, 0x40000000));
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), data + done, piece, 0)))
            return false;
        done += piece;
    }
    return BCRYPT_SUCCESS(::BCryptHashData(hash.get(), &nul, 1, 0)) &&
           BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest, sizeof digest, 0));
}

uint32_t LittleEndianWord(const unsigned char* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

} // namespace

std::string SqlIdOf(std::string_view utf8)
{
    unsigned char digest[16];
    if (!Md5(utf8, digest))
        return {};
    uint64_t n = static_cast<uint64_t>(LittleEndianWord(digest + 8)) << 32 | LittleEndianWord(digest + 12);
    static const char Alphabet[] = "0123456789abcdfghjkmnpqrstuvwxyz";
    std::string id(13, '0');
    for (size_t i = id.size(); i-- > 0; n >>= 5)
        id[i] = Alphabet[n & 31];
    return id;
}
