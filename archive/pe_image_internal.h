// What the two reading files of the PE module share (pe_image.cpp, pe_image_tree.cpp); not for
// callers of the module.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/pe_image.h"

namespace pe {
namespace internal {

// The bytes of the resource section from the root directory on, and the root's RVA; bytes stays
// empty when the image has no resources. Gives the reason text on failure, else nullptr.
const char* LoadTree(ByteSource& src, const Image& image, std::vector<uint8_t>& bytes,
                     uint32_t& rva);

}  // namespace internal
}  // namespace pe
