#include "base/AesBlockCipher.h"

#include "base/AesNi.h"

#include <array>
#include <cstring>

namespace Nerova {
namespace {

// FIPS-197 S-box and inverse S-box.
constexpr std::uint8_t kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

constexpr std::uint8_t kInvSbox[256] = {
    0x52, 0x09, 0x6a, 0xd5, 0x30, 0x36, 0xa5, 0x38, 0xbf, 0x40, 0xa3, 0x9e, 0x81, 0xf3, 0xd7, 0xfb,
    0x7c, 0xe3, 0x39, 0x82, 0x9b, 0x2f, 0xff, 0x87, 0x34, 0x8e, 0x43, 0x44, 0xc4, 0xde, 0xe9, 0xcb,
    0x54, 0x7b, 0x94, 0x32, 0xa6, 0xc2, 0x23, 0x3d, 0xee, 0x4c, 0x95, 0x0b, 0x42, 0xfa, 0xc3, 0x4e,
    0x08, 0x2e, 0xa1, 0x66, 0x28, 0xd9, 0x24, 0xb2, 0x76, 0x5b, 0xa2, 0x49, 0x6d, 0x8b, 0xd1, 0x25,
    0x72, 0xf8, 0xf6, 0x64, 0x86, 0x68, 0x98, 0x16, 0xd4, 0xa4, 0x5c, 0xcc, 0x5d, 0x65, 0xb6, 0x92,
    0x6c, 0x70, 0x48, 0x50, 0xfd, 0xed, 0xb9, 0xda, 0x5e, 0x15, 0x46, 0x57, 0xa7, 0x8d, 0x9d, 0x84,
    0x90, 0xd8, 0xab, 0x00, 0x8c, 0xbc, 0xd3, 0x0a, 0xf7, 0xe4, 0x58, 0x05, 0xb8, 0xb3, 0x45, 0x06,
    0xd0, 0x2c, 0x1e, 0x8f, 0xca, 0x3f, 0x0f, 0x02, 0xc1, 0xaf, 0xbd, 0x03, 0x01, 0x13, 0x8a, 0x6b,
    0x3a, 0x91, 0x11, 0x41, 0x4f, 0x67, 0xdc, 0xea, 0x97, 0xf2, 0xcf, 0xce, 0xf0, 0xb4, 0xe6, 0x73,
    0x96, 0xac, 0x74, 0x22, 0xe7, 0xad, 0x35, 0x85, 0xe2, 0xf9, 0x37, 0xe8, 0x1c, 0x75, 0xdf, 0x6e,
    0x47, 0xf1, 0x1a, 0x71, 0x1d, 0x29, 0xc5, 0x89, 0x6f, 0xb7, 0x62, 0x0e, 0xaa, 0x18, 0xbe, 0x1b,
    0xfc, 0x56, 0x3e, 0x4b, 0xc6, 0xd2, 0x79, 0x20, 0x9a, 0xdb, 0xc0, 0xfe, 0x78, 0xcd, 0x5a, 0xf4,
    0x1f, 0xdd, 0xa8, 0x33, 0x88, 0x07, 0xc7, 0x31, 0xb1, 0x12, 0x10, 0x59, 0x27, 0x80, 0xec, 0x5f,
    0x60, 0x51, 0x7f, 0xa9, 0x19, 0xb5, 0x4a, 0x0d, 0x2d, 0xe5, 0x7a, 0x9f, 0x93, 0xc9, 0x9c, 0xef,
    0xa0, 0xe0, 0x3b, 0x4d, 0xae, 0x2a, 0xf5, 0xb0, 0xc8, 0xeb, 0xbb, 0x3c, 0x83, 0x53, 0x99, 0x61,
    0x17, 0x2b, 0x04, 0x7e, 0xba, 0x77, 0xd6, 0x26, 0xe1, 0x69, 0x14, 0x63, 0x55, 0x21, 0x0c, 0x7d,
};

// Round constants of the key expansion; index 0 is not used.
constexpr std::uint8_t kRcon[11] = {0x8d, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};

constexpr std::uint8_t xtime(std::uint8_t a)
{
    return static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0x00));
}

constexpr std::uint8_t gmul(std::uint8_t a, std::uint8_t b)
{
    std::uint8_t product = 0;
    for (; b != 0; b >>= 1, a = xtime(a)) {
        if (b & 1)
            product ^= a;
    }
    return product;
}

constexpr std::uint32_t word(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3)
{
    return std::uint32_t(b0) << 24 | std::uint32_t(b1) << 16 | std::uint32_t(b2) << 8 | b3;
}

constexpr std::uint32_t rotateRight8(std::uint32_t w, int times)
{
    for (int i = 0; i < times; ++i)
        w = (w >> 8) | (w << 24);
    return w;
}

using Table = std::array<std::uint32_t, 256>;

// SubBytes and MixColumns of one state byte, as the column it contributes; the row of the byte selects
// the rotation.
constexpr Table makeEncTable(int row)
{
    Table t{};
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t s = kSbox[x];
        t[x] = rotateRight8(word(gmul(s, 2), s, s, gmul(s, 3)), row);
    }
    return t;
}

// InvSubBytes and InvMixColumns of one state byte.
constexpr Table makeDecTable(int row)
{
    Table t{};
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t s = kInvSbox[x];
        t[x] = rotateRight8(word(gmul(s, 14), gmul(s, 9), gmul(s, 13), gmul(s, 11)), row);
    }
    return t;
}

constexpr Table kTe0 = makeEncTable(0);
constexpr Table kTe1 = makeEncTable(1);
constexpr Table kTe2 = makeEncTable(2);
constexpr Table kTe3 = makeEncTable(3);
constexpr Table kTd0 = makeDecTable(0);
constexpr Table kTd1 = makeDecTable(1);
constexpr Table kTd2 = makeDecTable(2);
constexpr Table kTd3 = makeDecTable(3);

inline std::uint32_t load32(const std::uint8_t* p)
{
    return word(p[0], p[1], p[2], p[3]);
}

inline void store32(std::uint8_t* p, std::uint32_t w)
{
    p[0] = static_cast<std::uint8_t>(w >> 24);
    p[1] = static_cast<std::uint8_t>(w >> 16);
    p[2] = static_cast<std::uint8_t>(w >> 8);
    p[3] = static_cast<std::uint8_t>(w);
}

inline std::uint8_t byteOf(std::uint32_t w, int shift)
{
    return static_cast<std::uint8_t>(w >> shift);
}

inline std::uint32_t subWord(std::uint32_t w)
{
    return word(kSbox[byteOf(w, 24)], kSbox[byteOf(w, 16)], kSbox[byteOf(w, 8)], kSbox[byteOf(w, 0)]);
}

// InvMixColumns of one column: the tables hold InvSubBytes too, which the S-box undoes.
inline std::uint32_t invMixColumn(std::uint32_t w)
{
    return kTd0[kSbox[byteOf(w, 24)]] ^ kTd1[kSbox[byteOf(w, 16)]] ^ kTd2[kSbox[byteOf(w, 8)]] ^
           kTd3[kSbox[byteOf(w, 0)]];
}

inline void xorBlock(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        out[i] = a[i] ^ b[i];
}

} // namespace

bool AesBlockCipher::hasAesNi()
{
    return AesNi::available();
}

void AesBlockCipher::expandKey(const std::uint8_t* key, int keyWords, std::uint8_t* roundKeys)
{
    const int total = 4 * (keyWords + 7);
    std::memcpy(roundKeys, key, 4 * keyWords);
    for (int i = keyWords; i < total; ++i) {
        std::uint32_t temp = load32(roundKeys + 4 * (i - 1));
        if (i % keyWords == 0)
            temp = subWord(rotateRight8(temp, 3)) ^ (std::uint32_t(kRcon[i / keyWords]) << 24);
        else if (keyWords > 6 && i % keyWords == 4)
            temp = subWord(temp);
        store32(roundKeys + 4 * i, load32(roundKeys + 4 * (i - keyWords)) ^ temp);
    }
}

AesBlockCipher::AesBlockCipher(const std::uint8_t* key, int keyWords, Engine engine) : mRounds(keyWords + 6)
{
    expandKey(key, keyWords, mEncBytes);
    const int words = 4 * (mRounds + 1);
    for (int i = 0; i < words; ++i)
        mEncWords[i] = load32(mEncBytes + 4 * i);
    // Equivalent inverse cipher: the round keys in reverse order, the inner ones through InvMixColumns.
    for (int round = 0; round <= mRounds; ++round) {
        const std::uint32_t* from = mEncWords + 4 * (mRounds - round);
        const bool inner = round > 0 && round < mRounds;
        for (int c = 0; c < 4; ++c)
            mDecWords[4 * round + c] = inner ? invMixColumn(from[c]) : from[c];
    }
    for (int i = 0; i < words; ++i)
        store32(mDecBytes + 4 * i, mDecWords[i]);

    const bool aesNi = engine != Engine::Portable && hasAesNi();
    mEngine = aesNi ? Engine::AesNi : Engine::Portable;
}

void AesBlockCipher::encryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    const std::uint32_t* rk = mEncWords;
    std::uint32_t s0 = load32(in) ^ rk[0];
    std::uint32_t s1 = load32(in + 4) ^ rk[1];
    std::uint32_t s2 = load32(in + 8) ^ rk[2];
    std::uint32_t s3 = load32(in + 12) ^ rk[3];
    for (int round = 1; round < mRounds; ++round) {
        rk += 4;
        const std::uint32_t t0 =
            kTe0[byteOf(s0, 24)] ^ kTe1[byteOf(s1, 16)] ^ kTe2[byteOf(s2, 8)] ^ kTe3[byteOf(s3, 0)] ^ rk[0];
        const std::uint32_t t1 =
            kTe0[byteOf(s1, 24)] ^ kTe1[byteOf(s2, 16)] ^ kTe2[byteOf(s3, 8)] ^ kTe3[byteOf(s0, 0)] ^ rk[1];
        const std::uint32_t t2 =
            kTe0[byteOf(s2, 24)] ^ kTe1[byteOf(s3, 16)] ^ kTe2[byteOf(s0, 8)] ^ kTe3[byteOf(s1, 0)] ^ rk[2];
        const std::uint32_t t3 =
            kTe0[byteOf(s3, 24)] ^ kTe1[byteOf(s0, 16)] ^ kTe2[byteOf(s1, 8)] ^ kTe3[byteOf(s2, 0)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    // Last round: no MixColumns.
    store32(out,
            word(kSbox[byteOf(s0, 24)], kSbox[byteOf(s1, 16)], kSbox[byteOf(s2, 8)], kSbox[byteOf(s3, 0)]) ^
                rk[0]);
    store32(out + 4,
            word(kSbox[byteOf(s1, 24)], kSbox[byteOf(s2, 16)], kSbox[byteOf(s3, 8)], kSbox[byteOf(s0, 0)]) ^
                rk[1]);
    store32(out + 8,
            word(kSbox[byteOf(s2, 24)], kSbox[byteOf(s3, 16)], kSbox[byteOf(s0, 8)], kSbox[byteOf(s1, 0)]) ^
                rk[2]);
    store32(out + 12,
            word(kSbox[byteOf(s3, 24)], kSbox[byteOf(s0, 16)], kSbox[byteOf(s1, 8)], kSbox[byteOf(s2, 0)]) ^
                rk[3]);
}

void AesBlockCipher::decryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    const std::uint32_t* rk = mDecWords;
    std::uint32_t s0 = load32(in) ^ rk[0];
    std::uint32_t s1 = load32(in + 4) ^ rk[1];
    std::uint32_t s2 = load32(in + 8) ^ rk[2];
    std::uint32_t s3 = load32(in + 12) ^ rk[3];
    for (int round = 1; round < mRounds; ++round) {
        rk += 4;
        const std::uint32_t t0 =
            kTd0[byteOf(s0, 24)] ^ kTd1[byteOf(s3, 16)] ^ kTd2[byteOf(s2, 8)] ^ kTd3[byteOf(s1, 0)] ^ rk[0];
        const std::uint32_t t1 =
            kTd0[byteOf(s1, 24)] ^ kTd1[byteOf(s0, 16)] ^ kTd2[byteOf(s3, 8)] ^ kTd3[byteOf(s2, 0)] ^ rk[1];
        const std::uint32_t t2 =
            kTd0[byteOf(s2, 24)] ^ kTd1[byteOf(s1, 16)] ^ kTd2[byteOf(s0, 8)] ^ kTd3[byteOf(s3, 0)] ^ rk[2];
        const std::uint32_t t3 =
            kTd0[byteOf(s3, 24)] ^ kTd1[byteOf(s2, 16)] ^ kTd2[byteOf(s1, 8)] ^ kTd3[byteOf(s0, 0)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    // Last round: no InvMixColumns.
    store32(out, word(kInvSbox[byteOf(s0, 24)], kInvSbox[byteOf(s3, 16)], kInvSbox[byteOf(s2, 8)],
                      kInvSbox[byteOf(s1, 0)]) ^
                     rk[0]);
    store32(out + 4, word(kInvSbox[byteOf(s1, 24)], kInvSbox[byteOf(s0, 16)], kInvSbox[byteOf(s3, 8)],
                          kInvSbox[byteOf(s2, 0)]) ^
                         rk[1]);
    store32(out + 8, word(kInvSbox[byteOf(s2, 24)], kInvSbox[byteOf(s1, 16)], kInvSbox[byteOf(s0, 8)],
                          kInvSbox[byteOf(s3, 0)]) ^
                         rk[2]);
    store32(out + 12, word(kInvSbox[byteOf(s3, 24)], kInvSbox[byteOf(s2, 16)], kInvSbox[byteOf(s1, 8)],
                           kInvSbox[byteOf(s0, 0)]) ^
                          rk[3]);
}

void AesBlockCipher::encryptEcb(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    if (mEngine == Engine::AesNi)
        return AesNi::encryptEcb(mEncBytes, mRounds, in, out, blocks);
    for (std::size_t i = 0; i < blocks; ++i)
        encryptBlock(in + 16 * i, out + 16 * i);
}

void AesBlockCipher::decryptEcb(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    if (mEngine == Engine::AesNi)
        return AesNi::decryptEcb(mDecBytes, mRounds, in, out, blocks);
    for (std::size_t i = 0; i < blocks; ++i)
        decryptBlock(in + 16 * i, out + 16 * i);
}

void AesBlockCipher::encryptCbc(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                std::uint8_t* iv) const
{
    if (mEngine == Engine::AesNi)
        return AesNi::encryptCbc(mEncBytes, mRounds, in, out, blocks, iv);
    std::uint8_t block[16];
    for (std::size_t i = 0; i < blocks; ++i) {
        xorBlock(in + 16 * i, iv, block, 16);
        encryptBlock(block, iv);
        std::memcpy(out + 16 * i, iv, 16);
    }
}

void AesBlockCipher::decryptCbc(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                std::uint8_t* iv) const
{
    if (mEngine == Engine::AesNi)
        return AesNi::decryptCbc(mDecBytes, mRounds, in, out, blocks, iv);
    std::uint8_t block[16];
    for (std::size_t i = 0; i < blocks; ++i) {
        decryptBlock(in + 16 * i, block);
        xorBlock(block, iv, out + 16 * i, 16);
        std::memcpy(iv, in + 16 * i, 16);
    }
}

void AesBlockCipher::encryptCfb(const std::uint8_t* in, std::uint8_t* out, std::size_t bytes,
                                std::uint8_t* iv) const
{
    if (mEngine == Engine::AesNi)
        return AesNi::encryptCfb(mEncBytes, mRounds, in, out, bytes, iv);
    std::uint8_t stream[16];
    for (std::size_t i = 0; i < bytes; i += 16) {
        const std::size_t n = bytes - i < 16 ? bytes - i : 16;
        encryptBlock(iv, stream);
        xorBlock(in + i, stream, out + i, n);
        if (n == 16)
            std::memcpy(iv, out + i, 16);
    }
}

void AesBlockCipher::decryptCfb(const std::uint8_t* in, std::uint8_t* out, std::size_t bytes,
                                std::uint8_t* iv) const
{
    if (mEngine == Engine::AesNi)
        return AesNi::decryptCfb(mEncBytes, mRounds, in, out, bytes, iv);
    std::uint8_t stream[16];
    for (std::size_t i = 0; i < bytes; i += 16) {
        const std::size_t n = bytes - i < 16 ? bytes - i : 16;
        encryptBlock(iv, stream);
        xorBlock(in + i, stream, out + i, n);
        if (n == 16)
            std::memcpy(iv, in + i, 16);
    }
}

void AesBlockCipher::cryptOfb(const std::uint8_t* in, std::uint8_t* out, std::size_t bytes,
                              std::uint8_t* iv) const
{
    if (mEngine == Engine::AesNi)
        return AesNi::cryptOfb(mEncBytes, mRounds, in, out, bytes, iv);
    std::uint8_t stream[16];
    for (std::size_t i = 0; i < bytes; i += 16) {
        const std::size_t n = bytes - i < 16 ? bytes - i : 16;
        encryptBlock(iv, stream);
        std::memcpy(iv, stream, 16);
        xorBlock(in + i, stream, out + i, n);
    }
}

} // namespace Nerova
