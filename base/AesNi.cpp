#include "base/AesNi.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

// Only the functions marked with this are compiled for the AES instructions; nothing here is shared
// with, or inlined into, code that runs before the processor check.
#define NEROVA_AESNI __attribute__((target("aes,sse4.1")))

namespace Nerova::AesNi {
namespace {

constexpr int kMaxRounds = 14;
// Independent blocks kept in flight: enough to hide the latency of the round instruction. The loops over
// them are unrolled so that the blocks stay in registers.
constexpr std::size_t kLanes = 8;
#define NEROVA_UNROLL_LANES _Pragma("GCC unroll 8")

NEROVA_AESNI inline __m128i load(const std::uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

NEROVA_AESNI inline void store(std::uint8_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

NEROVA_AESNI inline __m128i loadPartial(const std::uint8_t* p, std::size_t n)
{
    std::uint8_t buffer[16] = {};
    std::memcpy(buffer, p, n);
    return load(buffer);
}

NEROVA_AESNI inline void storePartial(std::uint8_t* p, __m128i v, std::size_t n)
{
    std::uint8_t buffer[16];
    store(buffer, v);
    std::memcpy(p, buffer, n);
}

NEROVA_AESNI inline void loadKeys(const std::uint8_t* bytes, int rounds, __m128i* k)
{
    for (int r = 0; r <= rounds; ++r)
        k[r] = load(bytes + 16 * r);
}

NEROVA_AESNI inline __m128i encrypt1(const __m128i* k, int rounds, __m128i b)
{
    b = _mm_xor_si128(b, k[0]);
    for (int r = 1; r < rounds; ++r)
        b = _mm_aesenc_si128(b, k[r]);
    return _mm_aesenclast_si128(b, k[rounds]);
}

NEROVA_AESNI inline __m128i decrypt1(const __m128i* k, int rounds, __m128i b)
{
    b = _mm_xor_si128(b, k[0]);
    for (int r = 1; r < rounds; ++r)
        b = _mm_aesdec_si128(b, k[r]);
    return _mm_aesdeclast_si128(b, k[rounds]);
}

NEROVA_AESNI inline void encrypt8(const __m128i* k, int rounds, __m128i* b)
{
    NEROVA_UNROLL_LANES
    for (std::size_t i = 0; i < kLanes; ++i)
        b[i] = _mm_xor_si128(b[i], k[0]);
    for (int r = 1; r < rounds; ++r) {
        const __m128i key = k[r];
        NEROVA_UNROLL_LANES
        for (std::size_t i = 0; i < kLanes; ++i)
            b[i] = _mm_aesenc_si128(b[i], key);
    }
    NEROVA_UNROLL_LANES
    for (std::size_t i = 0; i < kLanes; ++i)
        b[i] = _mm_aesenclast_si128(b[i], k[rounds]);
}

NEROVA_AESNI inline void decrypt8(const __m128i* k, int rounds, __m128i* b)
{
    NEROVA_UNROLL_LANES
    for (std::size_t i = 0; i < kLanes; ++i)
        b[i] = _mm_xor_si128(b[i], k[0]);
    for (int r = 1; r < rounds; ++r) {
        const __m128i key = k[r];
        NEROVA_UNROLL_LANES
        for (std::size_t i = 0; i < kLanes; ++i)
            b[i] = _mm_aesdec_si128(b[i], key);
    }
    NEROVA_UNROLL_LANES
    for (std::size_t i = 0; i < kLanes; ++i)
        b[i] = _mm_aesdeclast_si128(b[i], k[rounds]);
}

} // namespace

bool available()
{
    static const bool present = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
    }();
    return present;
}

NEROVA_AESNI void encryptEcb(const std::uint8_t* keys, int rounds, const std::uint8_t* in, std::uint8_t* out,
                             std::size_t blocks)
{
    __m128i k[kMaxRounds + 1];
    loadKeys(keys, rounds, k);
    std::size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) {
        __m128i b[kLanes];
        NEROVA_UNROLL_LANES
        for (std::size_t j = 0; j < kLanes; ++j)
            b[j] = load(in + 16 * (i + j));
        encrypt8(k, rounds, b);
        NEROVA_UNROLL_LANES
        for (std::size_t j = 0; j < kLanes; ++j)
            store(out + 16 * (i + j), b[j]);
    }
    for (; i < blocks; ++i)
        store(out + 16 * i, encrypt1(k, rounds, load(in + 16 * i)));
}

NEROVA_AESNI void decryptEcb(const std::uint8_t* decKeys, int rounds, const std::uint8_t* in,
                             std::uint8_t* out, std::size_t blocks)
{
    __m128i k[kMaxRounds + 1];
    loadKeys(decKeys, rounds, k);
    std::size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) {
        __m128i b[kLanes];
        NEROVA_UNROLL_LANES
        for (std::size_t j = 0; j < kLanes; ++j)
            b[j] = load(in + 16 * (i + j));
        decrypt8(k, rounds, b);
        NEROVA_UNROLL_LANES
        for (std::size_t j = 0; j < kLanes; ++j)
            store(out + 16 * (i + j), b[j]);
    }
    for (; i < blocks; ++i)
        store(out + 16 * i, decrypt1(k, rounds, load(in + 16 * i)));
}

NEROVA_AESNI void encryptCbc(const std::uint8_t* keys, int rounds, const std::uint8_t* in, std::uint8_t* out,
                             std::size_t blocks, std::uint8_t* iv)
{
    __m128i k[kMaxRounds + 1];
    loadKeys(keys, rounds, k);
    __m128i chain = load(iv);
    for (std::size_t i = 0; i < blocks; ++i) {
        chain = encrypt1(k, rounds, _mm_xor_si128(load(in + 16 * i), chain));
        store(out + 16 * i, chain);
    }
    store(iv, chain);
}

NEROVA_AESNI void decryptCbc(const std::uint8_t* decKeys, int rounds, const std::uint8_t* in,
                             std::uint8_t* out, std::size_t blocks, std::uint8_t* iv)
{
    __m128i k[kMaxRounds + 1];
    loadKeys(decKeys, rounds, k);
    __m128i chain = load(iv);
    std::size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) {
        __m128i c[kLanes];
        __m128i b[kLanes];
        NEROVA_UNROLL_LANES
        for (std::size_t j = 0; j < kLanes; ++j)
            b[j] = c[j] = load(in + 16 * (i + j));
        decrypt8(k, rounds, b);
        store(out + 16 * i, _mm_xor_si128(b[0], chain));
        NEROVA_UNROLL_LANES
        for (std::size_t j = 1; j < kLanes; ++j)
            store(out + 16 * (i + j), _mm_xor_si128(b[j], c[j - 1]));
        chain = c[kLanes - 1];
    }
    for (; i < blocks; ++i) {
        const __m128i c = load(in + 16 * i);
        store(out + 16 * i, _mm_xor_si128(decrypt1(k, rounds, c), chain));
        chain = c;
    }
    store(iv, chain);
}

NEROVA_AESNI void encryptCfb(const std::uint8_t* keys, int rounds, const std::uint8_t* in, std::uint8_t* out,
                             std::size_t bytes, std::uint8_t* iv)
{
    __m128i k[kMaxRounds + 1];
    loadKeys(keys, rounds, k);
    __m128i chain = load(iv);
    std::size_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        chain = _mm_xor_si128(load(in + i), encrypt1(k, rounds, chain));
        store(out + i, chain);
    }
    if (i < bytes) {
        const __m128i last = _mm_xor_si128(loadPartial(in + i, bytes - i), encrypt1(k, rounds, chain));
        storePartial(out + i, last, bytes - i);
    }
    store(iv, chain);
}

NEROVA_AESNI void decryptCfb(const std::uint8_t* keys, int rounds, const std::uint8_t* in, std::uint8_t* out,
                             std::size_t bytes, std::uint8_t* iv)
{
    __m128i k[kMaxRounds + 1];
    loadKeys(keys, rounds, k);
    __m128i chain = load(iv);
    const std::size_t blocks = bytes / 16;
    std::size_t i = 0;
    // Each block's keystream comes from the ciphertext before it, so blocks decipher independently.
    for (; i + kLanes <= blocks; i += kLanes) {
        __m128i b[kLanes];
        b[0] = chain;
        NEROVA_UNROLL_LANES
        for (std::size_t j = 1; j < kLanes; ++j)
            b[j] = load(in + 16 * (i + j - 1));
        encrypt8(k, rounds, b);
        NEROVA_UNROLL_LANES
        for (std::size_t j = 0; j < kLanes; ++j)
            store(out + 16 * (i + j), _mm_xor_si128(b[j], load(in + 16 * (i + j))));
        chain = load(in + 16 * (i + kLanes - 1));
    }
    for (; i < blocks; ++i) {
        const __m128i c = load(in + 16 * i);
        store(out + 16 * i, _mm_xor_si128(c, encrypt1(k, rounds, chain)));
        chain = c;
    }
    const std::size_t tail = bytes - 16 * blocks;
    if (tail > 0) {
        const __m128i last = _mm_xor_si128(loadPartial(in + 16 * blocks, tail), encrypt1(k, rounds, chain));
        storePartial(out + 16 * blocks, last, tail);
    }
    store(iv, chain);
}

NEROVA_AESNI void cryptOfb(const std::uint8_t* keys, int rounds, const std::uint8_t* in, std::uint8_t* out,
                           std::size_t bytes, std::uint8_t* iv)
{
    __m128i k[kMaxRounds + 1];
    loadKeys(keys, rounds, k);
    __m128i stream = load(iv);
    std::size_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        stream = encrypt1(k, rounds, stream);
        store(out + i, _mm_xor_si128(load(in + i), stream));
    }
    if (i < bytes) {
        stream = encrypt1(k, rounds, stream);
        storePartial(out + i, _mm_xor_si128(loadPartial(in + i, bytes - i), stream), bytes - i);
    }
    store(iv, stream);
}

} // namespace Nerova::AesNi

#else // not x86: the table-driven engine is the only one.

namespace Nerova::AesNi {

bool available()
{
    return false;
}

void encryptEcb(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*, std::size_t) {}
void decryptEcb(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*, std::size_t) {}
void encryptCbc(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*, std::size_t, std::uint8_t*) {}
void decryptCbc(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*, std::size_t, std::uint8_t*) {}
void encryptCfb(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*, std::size_t, std::uint8_t*) {}
void decryptCfb(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*, std::size_t, std::uint8_t*) {}
void cryptOfb(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*, std::size_t, std::uint8_t*) {}

} // namespace Nerova::AesNi

#endif
