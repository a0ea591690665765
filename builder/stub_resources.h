// What makes a produced program the vendor's own: an icon from a .ico file, version information and
// the elevation level in the manifest. With none of them asked for, the stub is copied unchanged;
// otherwise its resources are rewritten through archive/pe_image.h before the archive follows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/pe_image.h"
#include "builder/builder_only.h"

// Texts of the version information, in code page 1252. An empty text is left out.
struct VersionTexts {
  std::string productName, productVersion, fileVersion, company, description, copyright;
  bool Empty() const;
};

enum class ExecutionLevel { AsInvoker, HighestAvailable, RequireAdministrator };

// What the vendor asks of the produced program. Empty() means the stub is copied byte for byte.
struct StubLook {
  std::string iconFile;  // the .ico file (Settings.IconFile); empty: the stub's own icon
  VersionTexts version;
  ExecutionLevel level = ExecutionLevel::AsInvoker;  // asInvoker leaves the manifest as it is
  bool Empty() const;
};

// The images of an icon file, each as RT_ICON data, with the 14-byte group entry fields.
struct IconImage {
  uint8_t width = 0, height = 0, colorCount = 0;  // 0 means 256 for width and height
  uint16_t planes = 0, bitCount = 0;
  std::vector<uint8_t> data;  // a BMP-style DIB or a PNG, as the file holds it
};

// Parses a .ico file. False, with why in German naming the reason (a cursor, no images, an image
// past the end, a size overflow, a PNG over 256 px, ...), for anything that is not a usable icon.
bool ParseIconFile(const std::vector<uint8_t>& bytes, std::vector<IconImage>& images,
                   std::string* why);

// Replaces icon group 1 by images: the old group's RT_ICON images are removed, the new ones take
// the lowest free numbers.
void ReplaceIcon(std::vector<pe::Resource>& resources, const std::vector<IconImage>& images);

// The RT_VERSION data for texts (German, 0407, Unicode). The fixed numeric versions come from
// file and product versions of the form a.b.c.d (fewer parts are filled with 0). False, with why,
// for a version that is not such a number or a text that cannot be stored.
bool MakeVersionInfo(const VersionTexts& texts, std::vector<uint8_t>& data, std::string* why);

// Sets the requestedExecutionLevel of a manifest, changing nothing else of it. False, with why,
// when the manifest holds no such element.
bool SetExecutionLevel(std::string& manifest, ExecutionLevel level, std::string* why);

// Names for the console and messages: "asInvoker", "highestAvailable", "requireAdministrator".
const char* ExecutionLevelName(ExecutionLevel level);
bool ParseExecutionLevel(const std::string& text, ExecutionLevel& level);

// The stub (read from the file stubName) with look applied; iconBytes is the content of
// look.iconFile (empty when none). False, with why in German naming the icon file, or the reason
// and the stub file, before anything is written.
bool CustomizeStub(const std::vector<uint8_t>& stub, const std::string& stubName,
                   const StubLook& look, const std::vector<uint8_t>& iconBytes,
                   std::vector<uint8_t>& out, std::string* why);
