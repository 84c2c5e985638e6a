#include "app/Blowfish.h"

#include "app/BlowfishTables.h"

#include <utility>

namespace pelio::app {

namespace {

std::uint32_t ReadBigEndian(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

void WriteBigEndian(std::uint32_t v, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace

Blowfish::Blowfish() : m_p(kBlowfishInitialP), m_s(kBlowfishInitialS) {}

bool Blowfish::SetKey(std::span<const std::uint8_t> key) {
    if (key.size() > kMaxKeySize) return false;
    m_p = kBlowfishInitialP;
    m_s = kBlowfishInitialS;
    if (!key.empty()) {
        std::size_t j = 0;
        for (auto& p : m_p) {
            std::uint32_t word = 0;
            for (int k = 0; k < 4; ++k) {
                word = (word << 8) | key[j];
                j = (j + 1) % key.size();
            }
            p ^= word;
        }
    }
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    for (std::size_t i = 0; i < m_p.size(); i += 2) {
        EncryptWords(left, right);
        m_p[i] = left;
        m_p[i + 1] = right;
    }
    for (auto& box : m_s) {
        for (std::size_t i = 0; i < box.size(); i += 2) {
            EncryptWords(left, right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
    return true;
}

std::uint32_t Blowfish::F(std::uint32_t x) const {
    return ((m_s[0][x >> 24] + m_s[1][(x >> 16) & 0xFF]) ^ m_s[2][(x >> 8) & 0xFF]) + m_s[3][x & 0xFF];
}

void Blowfish::EncryptWords(std::uint32_t& left, std::uint32_t& right) const {
    std::uint32_t l = left;
    std::uint32_t r = right;
    for (int i = 0; i < 16; ++i) {
        l ^= m_p[i];
        r ^= F(l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= m_p[16];
    l ^= m_p[17];
    left = l;
    right = r;
}

void Blowfish::DecryptWords(std::uint32_t& left, std::uint32_t& right) const {
    std::uint32_t l = left;
    std::uint32_t r = right;
    for (int i = 17; i > 1; --i) {
        l ^= m_p[i];
        r ^= F(l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= m_p[1];
    l ^= m_p[0];
    left = l;
    right = r;
}

void Blowfish::EncryptBlock(std::uint8_t* block) const {
    std::uint32_t l = ReadBigEndian(block);
    std::uint32_t r = ReadBigEndian(block + 4);
    EncryptWords(l, r);
    WriteBigEndian(l, block);
    WriteBigEndian(r, block + 4);
}

void Blowfish::DecryptBlock(std::uint8_t* block) const {
    std::uint32_t l = ReadBigEndian(block);
    std::uint32_t r = ReadBigEndian(block + 4);
    DecryptWords(l, r);
    WriteBigEndian(l, block);
    WriteBigEndian(r, block + 4);
}

}  // namespace pelio::app
