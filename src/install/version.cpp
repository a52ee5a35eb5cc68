// Dotted version numbers turned into one integer for the VERSO and VERSU
// comparisons.
#include "install/version.h"

#include <algorithm>
#include <limits>

namespace install {

namespace {

constexpr std::int64_t kSaturated = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kFirstWeight = 1000000;
constexpr std::int64_t kWeightStep = 100;
constexpr std::size_t kModuleNameWidth = 8;
constexpr std::string_view kVersionSeparator = " - ";
constexpr std::size_t kVersionTextLength = 20;

}  // namespace

std::int32_t ParseVersion(std::string_view text) {
  std::int64_t result = 0;
  std::int64_t weight = kFirstWeight;
  std::int64_t group = 0;  // an empty group counts as 0
  bool groupSeen = false;

  // Values are capped at the 32-bit limit as they grow, so no product or sum
  // below can leave the 64-bit range.
  auto addGroup = [&] {
    result = std::min(result + group * weight, kSaturated);
    group = 0;
    groupSeen = false;
  };

  for (char c : text) {
    if (c >= '0' && c <= '9') {
      group = std::min(group * 10 + (c - '0'), kSaturated);
      groupSeen = true;
    } else if (weight > 0) {
      addGroup();
      weight /= kWeightStep;
    }
    // After the fourth separator the weight is 0 and further groups are
    // ignored.
  }
  if (weight > 0 && groupSeen) {
    addGroup();
  }
  return static_cast<std::int32_t>(result);
}

std::optional<std::string> FindModuleVersion(std::string_view text, std::string_view module) {
  std::string key(module.substr(0, kModuleNameWidth));
  key.resize(kModuleNameWidth, ' ');
  key += kVersionSeparator;
  const std::size_t at = text.find(key);
  if (at == std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view version = text.substr(at + key.size(), kVersionTextLength);
  const std::size_t end = version.find_first_not_of("0123456789.");
  return std::string(version.substr(0, end));
}

}  // namespace install
