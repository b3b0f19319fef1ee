#pragma once

#include <cstddef>
#include <cstdint>

namespace Nerova {

// One AES key ready for use: its schedule and the ECB, CBC, CFB and OFB loops over raw buffers, run with
// AES-NI when the processor has it and with a table-driven transform otherwise (both give the same bytes).
// Input and output buffers must not overlap. Chaining functions take the 16-byte IV and leave in it the
// value that continues the chain, so a text may be processed in several calls; only the last call of a
// CFB or OFB text may end inside a block.
class AesBlockCipher
{
public:
    enum class Engine { Automatic, Portable, AesNi };

    static constexpr int kBlockSize = 16;
    static constexpr int kMaxRounds = 14;

    // Whether this processor runs the AES-NI engine.
    static bool hasAesNi();
    // Key expansion: keyWords (4, 6 or 8) words of key give 16 * (keyWords + 7) bytes of round keys.
    static void expandKey(const std::uint8_t* key, int keyWords, std::uint8_t* roundKeys);

    // Automatic takes AES-NI when present; AesNi on a processor without it falls back to Portable.
    AesBlockCipher(const std::uint8_t* key, int keyWords, Engine engine = Engine::Automatic);

    Engine engine() const { return mEngine; }
    int rounds() const { return mRounds; }

    void encryptEcb(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const;
    void decryptEcb(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const;
    void encryptCbc(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, std::uint8_t* iv) const;
    void decryptCbc(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, std::uint8_t* iv) const;
    void encryptCfb(const std::uint8_t* in, std::uint8_t* out, std::size_t bytes, std::uint8_t* iv) const;
    void decryptCfb(const std::uint8_t* in, std::uint8_t* out, std::size_t bytes, std::uint8_t* iv) const;
    // OFB is its own inverse.
    void cryptOfb(const std::uint8_t* in, std::uint8_t* out, std::size_t bytes, std::uint8_t* iv) const;

private:
    void encryptBlock(const std::uint8_t* in, std::uint8_t* out) const;
    void decryptBlock(const std::uint8_t* in, std::uint8_t* out) const;

    int mRounds = 10;
    Engine mEngine = Engine::Portable;
    // Round keys as the table-driven transform reads them (big-endian column words); the decryption keys
    // are those of the equivalent inverse cipher, in the order they are used.
    std::uint32_t mEncWords[4 * (kMaxRounds + 1)];
    std::uint32_t mDecWords[4 * (kMaxRounds + 1)];
    // The same keys as bytes, the form AES-NI loads.
    alignas(16) std::uint8_t mEncBytes[16 * (kMaxRounds + 1)];
    alignas(16) std::uint8_t mDecBytes[16 * (kMaxRounds + 1)];
};

} // namespace Nerova
