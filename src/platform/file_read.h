#pragma once
// Whole-file reads with a size limit, refused before anything is allocated.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/memory.h"

namespace vl {

enum class ReadFileStatus { Ok, CannotOpen, Empty, TooLarge, OutOfMemory, ReadFailed };

// Reads a whole regular file of 1 … maxBytes bytes. Folders, pipes and
// devices cannot be opened; a file that shrinks while being read fails.
ReadFileStatus readWholeFile(const std::string& path, uint64_t maxBytes, Block& data, size_t& size);

}  // namespace vl
