// Applies the vendor's look to a stub through the PE module. Kept apart from stub_resources.cpp so
// that what needs only bytes (the icon file, the version information, the manifest) links without
// the PE writer.
#include <algorithm>

#include "archive/byte_source.h"
#include "builder/stub_resources.h"

namespace {

void SetWhy(std::string* why, const std::string& text) {
  if (why) *why = text;
}

bool IsNumbered(const pe::ResourceId& id, uint16_t number) {
  return id.name.empty() && id.number == number;
}

// Puts the version information in place of every RT_VERSION the stub has.
void PutVersion(std::vector<pe::Resource>& resources, std::vector<uint8_t> data) {
  resources.erase(
      std::remove_if(resources.begin(), resources.end(),
                     [](const pe::Resource& r) { return IsNumbered(r.type, pe::kTypeVersion); }),
      resources.end());
  pe::Resource version;
  version.type.number = pe::kTypeVersion;
  version.name.number = 1;
  version.language = pe::kLangGerman;
  version.data = std::move(data);
  resources.push_back(std::move(version));
}

// Sets the level in manifest 1 (every language of it).
bool PutLevel(std::vector<pe::Resource>& resources, ExecutionLevel level, std::string* why) {
  bool found = false;
  for (pe::Resource& r : resources) {
    if (!IsNumbered(r.type, pe::kTypeManifest) || !IsNumbered(r.name, 1)) continue;
    std::string manifest(r.data.begin(), r.data.end());
    if (!SetExecutionLevel(manifest, level, why)) return false;
    r.data.assign(manifest.begin(), manifest.end());
    found = true;
  }
  if (!found)
    SetWhy(why, std::string("Das Entpackprogramm hat kein Manifest; die Rechtestufe ") +
                    ExecutionLevelName(level) + " kann nicht eingetragen werden.");
  return found;
}

std::string RewriteProblem(pe::RewriteStatus status) {
  switch (status) {
    case pe::RewriteStatus::NotAProgram:
      return "es ist kein Windows-Programm mit Ressourcen.";
    case pe::RewriteStatus::Signed:
      return "es ist signiert.";
    case pe::RewriteStatus::AppendedData:
      return "hinter seinem Programmteil stehen weitere Daten.";
    case pe::RewriteStatus::LayoutUnsupported:
      return "hinter seinen Ressourcen steht ein Abschnitt, der nicht verschoben werden kann.";
    case pe::RewriteStatus::TooLarge:
      return "mit den neuen Ressourcen w\xFCrde es zu gro\xDF.";
    default:  // Ok, and statuses whose reason the PE module always gives
      break;
  }
  return "";
}

// The resources of stub with the checked icon images, version information and level put in.
bool RewriteStub(const std::vector<uint8_t>& stub, const StubLook& look,
                 const std::vector<IconImage>& images, std::vector<uint8_t> versionData,
                 std::vector<uint8_t>& out, std::string* why) {
  MemoryByteSource source(stub.data(), stub.size());
  pe::Image image;
  std::vector<pe::Resource> resources;
  if (!pe::ReadImage(source, image)) {
    SetWhy(why,
           "Das Entpackprogramm ist kein Windows-Programm; Symbol, Versionsinformation und "
           "Rechtestufe k\xF6nnen nicht eingetragen werden.");
    return false;
  }
  std::string reason;
  if (!pe::ReadResources(source, image, resources, &reason)) {
    SetWhy(why, !reason.empty() ? reason
                                : "Die Ressourcen des Entpackprogramms sind besch\xE4"
                                  "digt.");
    return false;
  }
  if (!look.iconFile.empty()) ReplaceIcon(resources, images);
  if (!look.version.Empty()) PutVersion(resources, std::move(versionData));
  if (look.level != ExecutionLevel::AsInvoker && !PutLevel(resources, look.level, why))
    return false;

  reason.clear();
  const pe::RewriteStatus status = pe::RewriteResources(stub, resources, out, &reason);
  if (status == pe::RewriteStatus::Ok) return true;
  SetWhy(why, !reason.empty() ? reason
                              : "Die Ressourcen des Entpackprogramms k\xF6nnen nicht ersetzt "
                                "werden: " +
                                    RewriteProblem(status));
  return false;
}

}  // namespace

bool CustomizeStub(const std::vector<uint8_t>& stub, const std::string& stubName,
                   const StubLook& look, const std::vector<uint8_t>& iconBytes,
                   std::vector<uint8_t>& out, std::string* why) {
  if (look.Empty()) {
    out = stub;
    return true;
  }
  // Everything the vendor gave is checked before the stub is touched.
  std::vector<IconImage> images;
  std::string reason;
  if (!look.iconFile.empty() && !ParseIconFile(iconBytes, images, &reason)) {
    SetWhy(why, "Die Symboldatei " + look.iconFile + " ist nicht verwendbar. " + reason);
    return false;
  }
  std::vector<uint8_t> versionData;
  if (!look.version.Empty() && !MakeVersionInfo(look.version, versionData, why)) return false;

  std::vector<uint8_t> result;
  if (!RewriteStub(stub, look, images, std::move(versionData), result, why)) {
    if (why && !stubName.empty()) *why += "\nEntpackprogramm: " + stubName;
    return false;
  }
  out.swap(result);
  return true;
}
