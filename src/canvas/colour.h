#pragma once
#include <cstdint>
#include <ostream>
#include <string>

namespace plasma {

// An exact RGB colour. Pages compare colours exactly, so there is no alpha and no conversion.
struct Colour {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;

  constexpr bool operator==(const Colour&) const = default;
  std::string str() const {
    return "RGB(" + std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b) + ")";
  }
};

inline std::ostream& operator<<(std::ostream& os, const Colour& c) { return os << c.str(); }

namespace colours {
inline constexpr Colour kBlack{0, 0, 0};
inline constexpr Colour kWhite{255, 255, 255};
inline constexpr Colour kYellow{255, 255, 0};
inline constexpr Colour kBoardBackground{76, 144, 204};
inline constexpr Colour kAccentBlue{54, 104, 151};
inline constexpr Colour kAccentGreen{0, 123, 67};
}  // namespace colours

}  // namespace plasma
