// The byte layout of a produced self-extracting program file, written down once for the writer,
// the reader (tambrixc list/verify/extract) and the extractor stub. All integers little-endian.
//
//   stub (tambrix.res1 or .res2, unchanged) | settings block | compressed part | u32 settings offset
//
// Settings block: the version byte and the install-info record's fields, in the order of the
// field table in settings/settings_block.h (which also holds the version). Same bytes as the
// settings file tambrix.dat.
//
// Compressed part (absent when no file was added): archive header, then entries.
//   archive header (17): "SFX2", u32 FileCount, u32 TotalSize, u32 0, u8 method (0 bzip2, 1 gzip)
//   entry header (40 + L): u16 L, L name bytes, 6 x u32 date block, u32 size, u32 compressed size,
//                          u8 method, u8 0, u32 0; then compressed-size bytes of data.
//   date block: seconds/2, minute, hour, day, month, year-1980 (local time of the last write).
// Stored names use backslashes and begin with one (\sub\a.txt).
#pragma once

#include <cstddef>
#include <cstdint>

namespace layout {

constexpr char kArchiveMagic[4] = {'S', 'F', 'X', '2'};
constexpr size_t kArchiveHeaderSize = 17;
constexpr size_t kEntryFixedSize = 40;  // entry header without the name
constexpr size_t kDateBlockSize = 24;
constexpr size_t kSettingsOffsetSize = 4;
constexpr size_t kMaxStoredName = 259;
constexpr uint8_t kMethodBzip2 = 0;
constexpr uint8_t kMethodGzip = 1;
constexpr uint32_t kMaxFileSize = 0x7FFFFFFF;  // the writer's 32-bit signed size fields

// Offsets inside the archive header.
constexpr size_t kHdrFileCount = 4;
constexpr size_t kHdrTotalSize = 8;
constexpr size_t kHdrReserved = 12;
constexpr size_t kHdrMethod = 16;

// Offsets inside an entry header, counted from the end of the name (add 2 + L).
constexpr size_t kEntDate = 0;
constexpr size_t kEntSize = 24;
constexpr size_t kEntCompressedSize = 28;
constexpr size_t kEntMethod = 32;
constexpr size_t kEntZeroByte = 33;
constexpr size_t kEntZeroWord = 34;

// Each stub carries this mark followed by the name of its method and a semicolon
// ("Tambrix-Entpackmethode:gzip;") as its RT_RCDATA resource kStubMethodResource (stub/stub.rc),
// so that a reader can tell which stub is in front of an archive. Readers look for it in the
// resource tree only, never anywhere else in the program's bytes.
constexpr char kStubMethodMark[] = "Tambrix-Entpackmethode:";
constexpr uint16_t kStubMethodResource = 200;  // IDR_STUB_METHOD of stub/stub_ids.h

// Names of the stub files beside the builder, by method.
constexpr const char* kStubBzip2 = "tambrix.res1";
constexpr const char* kStubGzip = "tambrix.res2";

}  // namespace layout
