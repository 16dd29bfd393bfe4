// A raw sector as READ CD returns it (sync, header, user data, EDC/ECC), the
// one layout every reader of the disc shares.
#pragma once

#include <cstddef>

namespace kestrow::format {

inline constexpr std::size_t kRawSectorSize = 2352;
inline constexpr std::size_t kUserDataOffset = 16;
inline constexpr std::size_t kUserDataSize = 2048;
inline constexpr std::size_t kNonUserBytes = kRawSectorSize - kUserDataSize;  // 304

}  // namespace kestrow::format
