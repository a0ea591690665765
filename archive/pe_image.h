// The PE image of a stub: its headers, section table, data directories and resource tree. Every
// reader (tambrixc's list and verify, the stub reading itself) finds the program's end, an
// Authenticode table and the stub's method mark through this file; the builder rewrites a stub's
// resources through it. Nothing here trusts the file: every offset and length is checked first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/byte_source.h"

namespace pe {

// Resource types the project reads or writes.
constexpr uint16_t kTypeIcon = 3;
constexpr uint16_t kTypeRcData = 10;
constexpr uint16_t kTypeGroupIcon = 14;
constexpr uint16_t kTypeVersion = 16;
constexpr uint16_t kTypeManifest = 24;
// The language of every resource of our stubs (German, Germany).
constexpr uint16_t kLangGerman = 0x0407;

// A resource type or name: a string when name is not empty, else the number.
struct ResourceId {
  uint16_t number = 0;
  std::u16string name;
};
bool operator==(const ResourceId& a, const ResourceId& b);
// The loader's order in a resource directory: named entries first, by their UTF-16 units as an
// ordinal upper-case comparison, then numbered entries ascending.
bool operator<(const ResourceId& a, const ResourceId& b);

struct Resource {
  ResourceId type;
  ResourceId name;
  uint16_t language = 0;
  uint32_t codePage = 0;  // as the data entry holds it (0 for our stubs)
  std::vector<uint8_t> data;
};

struct Section {
  char name[9] = {};
  uint32_t virtualAddress = 0, virtualSize = 0;
  uint32_t rawStart = 0, rawSize = 0;
  uint32_t characteristics = 0;
};

// What the readers and the rewrite need of the headers.
struct Image {
  bool pe32plus = false;
  uint64_t peHeader = 0;        // offset of "PE\0\0"
  uint64_t optionalHeader = 0;  // offset of the optional header
  uint32_t optionalSize = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t fileAlignment = 0, sectionAlignment = 0;
  uint64_t imageEnd = 0;        // end of the headers and of the last section's raw data
  uint32_t directoryCount = 0;  // NumberOfRvaAndSizes, at most 16 are read
  uint32_t directoryRva[16] = {}, directorySize[16] = {};
  std::vector<Section> sections;
  // Data directory 4 (the certificate table) holds a file offset, not an RVA.
  uint64_t CertificateStart() const { return directoryCount > 4 ? directoryRva[4] : 0; }
  uint64_t CertificateLength() const { return directoryCount > 4 ? directorySize[4] : 0; }
};

// False when the bytes do not start with a PE program whose headers the file holds.
bool ReadImage(ByteSource& src, Image& image);

// Where an Authenticode certificate table starts, when the security directory names one that ends
// exactly at the end of the file; 0 when there is none.
uint64_t CertificateTableStart(ByteSource& src);

// Reads every resource of the program's resource tree (type, name, language). False, with why in
// German, when the tree is damaged; an image without resources gives true and no resources.
bool ReadResources(ByteSource& src, const Image& image, std::vector<Resource>& out,
                   std::string* why = nullptr);

// The first resource of that type and numbered name, in any language; nullptr when there is none.
const Resource* FindResource(const std::vector<Resource>& resources, uint16_t type, uint16_t name);

// The data of the first resource of that numbered type and name, in any language, read straight
// from the tree (for the stub, which needs one resource and no names). False when there is none
// or the path to it is damaged.
bool ReadResourceData(ByteSource& src, const Image& image, uint16_t type, uint16_t name,
                      std::vector<uint8_t>& out);

// --- writing (the builder only; pe_image_write.cpp) --------------------------------------------

enum class RewriteStatus {
  Ok,
  NotAProgram,        // no PE program, or one without a resource section
  Signed,             // the program carries a certificate table
  AppendedData,       // bytes follow the last section (an archive, a signature, anything)
  LayoutUnsupported,  // a section other than .reloc follows .rsrc, or a directory points behind it
  TooLarge,           // the new image would not fit the 32-bit fields
  InvalidResources,   // two resources share type, name and language, or a name is too long
};

// Writes program with its resource section replaced by one holding exactly resources: the
// resource section keeps its place, the sections behind it are moved unchanged by whole
// alignments, and the section headers, the resource and base-relocation directories, SizeOfImage,
// SizeOfInitializedData and CheckSum are set to match. The same input gives the same bytes.
RewriteStatus RewriteResources(const std::vector<uint8_t>& program,
                               const std::vector<Resource>& resources, std::vector<uint8_t>& out,
                               std::string* why = nullptr);

// The PE checksum of image (the field at checksumOffset counted as zero), as the loader checks it.
uint32_t ImageChecksum(const std::vector<uint8_t>& image, uint64_t checksumOffset);

}  // namespace pe
