// The POSIX file system with a chosen page-cache allowance.
#pragma once
#ifndef _WIN32

#include <cstdint>
#include <memory>

#include "engine/core/file_system.h"

namespace parvane::core {

// FileSystem::native() as it would be if each file it writes kept only its
// first `bulkBytes` of bulk writes (writes of 64 KB and more) in the page
// cache, writing the rest around it; native() keeps up to 1 GiB.
std::unique_ptr<FileSystem> PosixFileSystemKeepingCached(std::uint64_t bulkBytes);

}  // namespace parvane::core
#endif  // _WIN32
