#include "plot/time_option.h"

#include <charconv>

#include "breaks/time_code.h"

namespace {

std::optional<std::uint64_t> number(std::string_view digits, std::uint64_t limit) {
  if (!time_code_is_digits(digits)) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size() || value > limit) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::uint64_t> plot_parse_time(std::string_view text) {
  // Minutes up to what 64 bits of blocks hold with room to spare.
  constexpr std::uint64_t MAX_MINUTES = std::uint64_t{1} << 40;
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return number(text, MAX_MINUTES * 4500);
  const std::string_view rest = text.substr(colon + 1);
  const std::size_t separator = rest.find_first_of(":.");
  const std::optional<std::uint64_t> minutes = number(text.substr(0, colon), MAX_MINUTES);
  const std::optional<std::uint64_t> seconds = number(rest.substr(0, separator), 59);
  const std::optional<std::uint64_t> frames =
      separator == std::string_view::npos ? std::optional<std::uint64_t>(0) : number(rest.substr(separator + 1), 74);
  if (!minutes || !seconds || !frames) return std::nullopt;
  return *minutes * 4500 + *seconds * 75 + *frames;
}
