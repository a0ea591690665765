// Small but valid Windows programs for tests that need a stub: a PE32+ image with .text, .rsrc and
// .reloc, given any list of resources. Readers that look into a stub's resources are tested with
// these instead of text that merely starts with "MZ".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/pe_image.h"

namespace testutil {

// The bare program: an empty resource tree, one relocation, headers and checksum set.
std::vector<uint8_t> TinyProgram();

// The program with exactly these resources (through pe::RewriteResources; fails the test on any
// refusal and gives an empty result).
std::vector<uint8_t> TinyProgramWith(const std::vector<pe::Resource>& resources);

// The same as a byte string, as the archive tests assemble files.
std::string TinyProgramBytes(const std::vector<pe::Resource>& resources);

// A numbered resource of language 0x0407 holding text.
pe::Resource TextResource(uint16_t type, uint16_t name, const std::string& text);

}  // namespace testutil
