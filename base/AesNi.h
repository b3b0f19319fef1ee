#pragma once

#include <cstddef>
#include <cstdint>

// The AES modes run with the processor's AES instructions. Only this file's functions are compiled for
// them, so the rest of the library runs on any x86-64; call them only when available() is true.
// Round keys are the 16 * (rounds + 1) bytes of the key schedule; decryption takes those of the
// equivalent inverse cipher in the order they are used.
namespace Nerova::AesNi {

bool available();

void encryptEcb(const std::uint8_t* keys, int rounds, const std::uint8_t* in, std::uint8_t* out,
                std::size_t blocks);
void decryptEcb(const std::uint8_t* decKeys, int rounds, const std::uint8_t* in, std::uint8_t* out,
                std::size_t blocks);
void encryptCbc(const std::uint8_t* keys, int rounds, const std::uint8_t* in, std::uint8_t* out,
                std::size_t blocks, std::uint8_t* iv);
void decryptCbc(const std::uint8_t* decKeys, int rounds, const std::uint8_t* in, std::uint8_t* out,
                std::size_t blocks, std::uint8_t* iv);
void encryptCfb(const std::uint8_t* keys, int rounds, const std::uint8_t* in, std::uint8_t* out,
                std::size_t bytes, std::uint8_t* iv);
void decryptCfb(const std::uint8_t* keys, int rounds, const std::uint8_t* in, std::uint8_t* out,
                std::size_t bytes, std::uint8_t* iv);
void cryptOfb(const std::uint8_t* keys, int rounds, const std::uint8_t* in, std::uint8_t* out,
              std::size_t bytes, std::uint8_t* iv);

} // namespace Nerova::AesNi
