// Writes a stub with its resources rewritten, for pe_oracle.py to hold to pefile's reading:
//   pe_rewrite_tool same|grow|shrink IN OUT [EXPECT_DIR]
// same keeps every resource, grow adds a 40 KB RT_RCDATA "GROSS" and a named type, shrink drops
// the icons. EXPECT_DIR receives each asked-for resource as TYPE_NAME_LANGUAGE.bin.
// Exit 0 written, 1 refused or unreadable (the reason on stderr), 2 wrong use.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/pe_image.h"

namespace {

std::string IdText(const pe::ResourceId& id) {
  return id.name.empty() ? std::to_string(id.number) : std::string(id.name.begin(), id.name.end());
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: pe_rewrite_tool same|grow|shrink IN OUT [EXPECT_DIR]\n");
    return 2;
  }
  const std::string mode = argv[1];
  std::ifstream in(argv[2], std::ios::binary);
  const std::vector<uint8_t> stub((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  MemoryByteSource src(stub.data(), stub.size());
  pe::Image image;
  std::vector<pe::Resource> resources;
  std::string why;
  if (stub.empty() || !pe::ReadImage(src, image) ||
      !pe::ReadResources(src, image, resources, &why)) {
    std::fprintf(stderr, "%s: no readable program %s\n", argv[2], why.c_str());
    return 1;
  }
  if (mode == "grow") {
    pe::Resource big;
    big.type.number = pe::kTypeRcData;
    big.name.name = u"GROSS";
    big.language = pe::kLangGerman;
    for (int i = 0; i < 40 * 1024 + 5; ++i) big.data.push_back(static_cast<uint8_t>(i * 31 + 7));
    resources.push_back(big);
    pe::Resource vendor;
    vendor.type.name = u"VENDOR";
    vendor.name.number = 1;
    vendor.data = {'v', 'e', 'n', 'd', 'o', 'r'};
    resources.push_back(vendor);
  } else if (mode == "shrink") {
    std::vector<pe::Resource> kept;
    for (const pe::Resource& r : resources)
      if (r.type.number != pe::kTypeIcon && r.type.number != pe::kTypeGroupIcon) kept.push_back(r);
    resources.swap(kept);
  } else if (mode != "same") {
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
  }
  std::vector<uint8_t> out;
  if (pe::RewriteResources(stub, resources, out, &why) != pe::RewriteStatus::Ok) {
    std::fprintf(stderr, "%s: refused: %s\n", argv[2], why.c_str());
    return 1;
  }
  if (!WriteAll(argv[3], out)) {
    std::fprintf(stderr, "%s: cannot write\n", argv[3]);
    return 1;
  }
  if (argc == 5) {
    for (const pe::Resource& r : resources) {
      const std::string name = std::string(argv[4]) + "/" + IdText(r.type) + "_" + IdText(r.name) +
                               "_" + std::to_string(r.language) + ".bin";
      if (!WriteAll(name, r.data)) {
        std::fprintf(stderr, "%s: cannot write\n", name.c_str());
        return 1;
      }
    }
  }
  return 0;
}
