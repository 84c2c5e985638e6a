#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The published Blowfish block cipher: 64-bit blocks, 16 rounds, keys of 0 to 56 bytes.
namespace pelio::app {

class Blowfish {
  public:
    static constexpr std::size_t kBlockSize = 8;
    static constexpr std::size_t kMaxKeySize = 56;

    // The standard initial tables, not yet keyed.
    Blowfish();

    // Loads the standard initial tables and runs the key schedule: the key bytes, taken cyclically
    // four at a time into big-endian words, are XORed into P[0..17], then a zero block is encrypted
    // over and over to replace P and the four S-boxes, two words at a time. An empty key XORs
    // nothing in, which is the same as a key of zero bytes of any length. A key longer than 56 bytes
    // is refused: false, and the tables stay as they were.
    bool SetKey(std::span<const std::uint8_t> key);

    // One block as two 32-bit words.
    void EncryptWords(std::uint32_t& left, std::uint32_t& right) const;
    void DecryptWords(std::uint32_t& left, std::uint32_t& right) const;

    // One 8-byte block in place: bytes 0..3 are the left word, bytes 4..7 the right, big-endian.
    void EncryptBlock(std::uint8_t* block) const;
    void DecryptBlock(std::uint8_t* block) const;

  private:
    std::uint32_t F(std::uint32_t x) const;

    std::array<std::uint32_t, 18> m_p;
    std::array<std::array<std::uint32_t, 256>, 4> m_s;
};

}  // namespace pelio::app
