// Payloads carried inside the program: raw-data resources under
// ":/payloads/", found by name without regard to case, and unpacking of the
// packed ones with zlib.
#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace install {

inline constexpr std::size_t kUnpackCapacity = 1000000;

// The bytes of the payload resource named name (case ignored), or nothing.
std::optional<QByteArray> FindPayload(std::string_view name);

enum class UnpackResult { Ok, Damaged, TooLarge };
// Unpacks a zlib stream into out (resized to kUnpackCapacity, zero-filled);
// size receives the unpacked length on success.
UnpackResult UnpackPayload(std::span<const std::uint8_t> packed, std::vector<std::uint8_t>& out,
                           std::size_t& size);

}  // namespace install
