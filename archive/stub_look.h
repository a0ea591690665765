// What a reader shows of the program in front of an archive: whether it shows our parcel icon or
// one the vendor gave it, its version information and the elevation level its manifest asks for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/byte_source.h"
#include "archive/pe_image.h"
#include "archive/version_info.h"

struct StubLookInfo {
  enum class Icon { None, Own, Replaced };
  Icon icon = Icon::None;   // icon group 1: none, the parcel icon of our stubs, another one
  bool hasVersion = false;  // the program carries version information (then in version)
  version_info::VersionInfo version;
  std::string level;  // requestedExecutionLevel of the manifest; "" when it names none
};

// Reads the look of the program at the start of src. False when src does not start with a PE
// program or its resources are damaged; look then says nothing.
bool ReadStubLook(ByteSource& src, StubLookInfo& look);

// A fingerprint of icon group 1 (its entries less their ids, then each image) as ReadStubLook
// compares it with our parcel icon's; 0 when the program has no such group.
uint64_t IconFingerprint(const std::vector<pe::Resource>& resources);
