#pragma once

#include <array>
#include <cstdint>

namespace pelio::app {

// The published initial P-array and S-boxes of Blowfish (the hexadecimal digits of pi).
extern const std::array<std::uint32_t, 18> kBlowfishInitialP;
extern const std::array<std::array<std::uint32_t, 256>, 4> kBlowfishInitialS;

}  // namespace pelio::app
