#include "archive/stub_look.h"

#include <vector>

#include "archive/pe_image.h"
#include "support/tus_strings.h"

namespace {

// The fingerprint of the parcel icon in our own stubs (resources/tambrix.ico). A test holds the
// built stubs to it, so that a new parcel icon cannot go unnoticed.
constexpr uint64_t kParcelIconFingerprint = 0xc7683c3cb3da811bULL;

// FNV-1a, 64 bits: enough to tell our icon from another, and the same on every platform.
uint64_t Mix(uint64_t hash, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    hash ^= data[i];
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

// The level="..." of the requestedExecutionLevel element, or "".
std::string ManifestLevel(const std::vector<uint8_t>& manifest) {
  const std::string text(manifest.begin(), manifest.end());
  const size_t element = text.find("<requestedExecutionLevel");
  if (element == std::string::npos) return std::string();
  const size_t close = text.find('>', element);
  const std::string attributes =
      text.substr(element, close == std::string::npos ? close : close - element);
  const std::string key = "level=";
  for (size_t at = attributes.find(key); at != std::string::npos;
       at = attributes.find(key, at + 1)) {
    if (at == 0 || (attributes[at - 1] != ' ' && attributes[at - 1] != '\t' &&
                    attributes[at - 1] != '\n' && attributes[at - 1] != '\r'))
      continue;  // uiAccessLevel= or the like
    const size_t quote = at + key.size();
    if (quote >= attributes.size() || (attributes[quote] != '"' && attributes[quote] != '\''))
      return std::string();
    const size_t end = attributes.find(attributes[quote], quote + 1);
    return end == std::string::npos ? std::string() : attributes.substr(quote + 1, end - quote - 1);
  }
  return std::string();
}

}  // namespace

uint64_t IconFingerprint(const std::vector<pe::Resource>& resources) {
  const pe::Resource* group = pe::FindResource(resources, pe::kTypeGroupIcon, 1);
  if (group == nullptr || group->data.size() < 6) return 0;
  const std::vector<uint8_t>& g = group->data;
  uint64_t hash = Mix(0xcbf29ce484222325ULL, g.data(), 6);
  const size_t count = GetU16(&g[4]);
  for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= g.size(); ++i) {
    const uint8_t* entry = &g[6 + 14 * i];
    hash = Mix(hash, entry, 12);  // everything but the image's id
    const pe::Resource* image = pe::FindResource(resources, pe::kTypeIcon, GetU16(entry + 12));
    if (image != nullptr) hash = Mix(hash, image->data.data(), image->data.size());
  }
  return hash;
}

bool ReadStubLook(ByteSource& src, StubLookInfo& look) {
  look = StubLookInfo();
  pe::Image image;
  std::vector<pe::Resource> resources;
  if (!pe::ReadImage(src, image) || !pe::ReadResources(src, image, resources)) return false;
  const uint64_t icon = IconFingerprint(resources);
  look.icon = icon == 0                        ? StubLookInfo::Icon::None
              : icon == kParcelIconFingerprint ? StubLookInfo::Icon::Own
                                               : StubLookInfo::Icon::Replaced;
  if (const pe::Resource* version = pe::FindResource(resources, pe::kTypeVersion, 1)) {
    look.hasVersion = version_info::ParseVersionInfo(version->data.data(), version->data.size(),
                                                     look.version, nullptr);
  }
  if (const pe::Resource* manifest = pe::FindResource(resources, pe::kTypeManifest, 1)) {
    look.level = ManifestLevel(manifest->data);
  }
  return true;
}
