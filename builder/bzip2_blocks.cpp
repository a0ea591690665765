#include "builder/bzip2_blocks.h"

#include <bzlib.h>

#include <algorithm>
#include <climits>
#include <utility>

namespace {

// What libbz2's first run-length stage puts into the block for a run of one byte (1..255 long):
// the bytes themselves up to three, from four on four bytes and a count.
inline uint32_t RunCost(uint32_t length) { return length < 4 ? length : 5; }

constexpr uint8_t kHeader[4] = {'B', 'Z', 'h', '9'};
constexpr uint64_t kBlockMagic = 0x314159265359;
constexpr uint64_t kEndMagic = 0x177245385090;
constexpr unsigned kTrailerBits = 48 + 32;  // end-of-stream magic and combined CRC
// A block is at least its magic, its CRC, the randomised bit and the origin pointer (and more).
constexpr uint64_t kShortestBlockBits = 48 + 32 + 1 + 24;

// count (1..57) bits of s starting at bit `bit` (most significant first), as the low bits of the
// result; the bits must lie inside s.
uint64_t BitsAt(const uint8_t* s, uint64_t bit, unsigned count) {
  const uint64_t first = bit / 8;
  const uint64_t last = (bit + count - 1) / 8;
  uint64_t v = 0;
  for (uint64_t i = first; i <= last; ++i) v = v << 8 | s[i];
  const unsigned after = static_cast<unsigned>((last + 1) * 8 - (bit + count));
  return (v >> after) & ((uint64_t(1) << count) - 1);
}

inline uint64_t LoadBig64(const uint8_t* p) {
  return uint64_t(p[0]) << 56 | uint64_t(p[1]) << 48 | uint64_t(p[2]) << 40 | uint64_t(p[3]) << 32 |
         uint64_t(p[4]) << 24 | uint64_t(p[5]) << 16 | uint64_t(p[6]) << 8 | uint64_t(p[7]);
}

inline void StoreBig64(uint8_t* p, uint64_t v) {
  p[0] = static_cast<uint8_t>(v >> 56);
  p[1] = static_cast<uint8_t>(v >> 48);
  p[2] = static_cast<uint8_t>(v >> 40);
  p[3] = static_cast<uint8_t>(v >> 32);
  p[4] = static_cast<uint8_t>(v >> 24);
  p[5] = static_cast<uint8_t>(v >> 16);
  p[6] = static_cast<uint8_t>(v >> 8);
  p[7] = static_cast<uint8_t>(v);
}

}  // namespace

// --- Bzip2BlockCutter ---------------------------------------------------------------------------

// libbz2 (bzlib.c, ADD_CHAR_TO_BLOCK and copy_input_until_stop) keeps one pending run of equal
// bytes and puts it into the block only when a different byte comes or the run is 255 long; the
// byte that ends the run starts a new pending run. Before each input byte it checks whether the
// block has reached nblockMAX, and under BZ_RUN then compresses the block as it is: the run that
// the last byte started is not put in, it opens the next block. A block can fill only when a run
// is put in, so the block ends just before the byte that made it full, and that byte meets the
// next block's empty state exactly as the first byte of the input meets the first block's.
size_t Bzip2BlockCutter::Take(const uint8_t* data, size_t n) {
  uint32_t filled = filled_;
  uint32_t runByte = runByte_;
  uint32_t runLength = runLength_;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t c = data[i];
    if (c == runByte && runLength - 1 < 254) {  // the run goes on (runLength is 1..254)
      ++runLength;
      continue;
    }
    filled += RunCost(runLength);
    if (filled >= kBlockLimit) {
      filled_ = 0;
      runLength_ = 0;
      return i;
    }
    runByte = c;
    runLength = 1;
  }
  filled_ = filled;
  runByte_ = runByte;
  runLength_ = runLength;
  return n;
}

// --- CompressBzip2Block -------------------------------------------------------------------------

Bzip2BlockCompressor::Bzip2BlockCompressor(std::vector<uint8_t>& stream) : stream_(stream) {
  stream_.clear();
  // About what the stream of one block needs; the buffer doubles should the input need more.
  stream_.resize(size_t(1) << 20);
  ok_ = BZ2_bzCompressInit(&strm_, 9, 0, 0) == BZ_OK;
  started_ = ok_;
}

Bzip2BlockCompressor::~Bzip2BlockCompressor() {
  if (started_) BZ2_bzCompressEnd(&strm_);
}

// One library call into the free end of the stream, grown first when it is full.
int Bzip2BlockCompressor::Call(int action) {
  if (used_ == stream_.size()) stream_.resize(stream_.size() * 2);
  const size_t room = std::min<size_t>(stream_.size() - used_, UINT_MAX);
  strm_.next_out = reinterpret_cast<char*>(stream_.data() + used_);
  strm_.avail_out = static_cast<unsigned int>(room);
  const int rc = BZ2_bzCompress(&strm_, action);
  used_ += room - strm_.avail_out;
  return rc;
}

bool Bzip2BlockCompressor::Add(const uint8_t* data, size_t n) {
  size_t at = 0;
  while (ok_ && at < n) {
    const size_t chunk = std::min<size_t>(n - at, 1u << 30);
    strm_.next_in = const_cast<char*>(reinterpret_cast<const char*>(data + at));
    strm_.avail_in = static_cast<unsigned int>(chunk);
    while (ok_ && strm_.avail_in > 0) ok_ = Call(BZ_RUN) == BZ_RUN_OK;
    at += chunk;
  }
  return ok_;
}

bool Bzip2BlockCompressor::Finish() {
  while (ok_) {
    const int rc = Call(BZ_FINISH);
    if (rc == BZ_STREAM_END) break;
    ok_ = rc == BZ_FINISH_OK;
  }
  stream_.resize(ok_ ? used_ : 0);
  return ok_;
}

bool CompressBzip2Block(const uint8_t* data, size_t n, std::vector<uint8_t>& stream) {
  Bzip2BlockCompressor compressor(stream);
  const bool ok = compressor.Add(data, n) && compressor.Finish();
  if (!ok) stream.clear();
  return ok;
}

// --- Bzip2Splicer -------------------------------------------------------------------------------

Bzip2Splicer::Bzip2Splicer(ByteSink sink) : sink_(std::move(sink)) {}

bool Bzip2Splicer::AddBlock(const uint8_t* stream, size_t n) {
  if (broken_ || finished_) return false;
  // The header, the shortest block and the trailer, however long the padding: every bit read
  // below lies inside the stream, and the block found is never shorter than that.
  if (n < 4 + (kShortestBlockBits + kTrailerBits + 7) / 8) return false;
  if (!std::equal(kHeader, kHeader + 4, stream) || BitsAt(stream, 32, 48) != kBlockMagic) {
    return false;
  }
  const uint32_t blockCrc = static_cast<uint32_t>(BitsAt(stream, 80, 32));

  // libbz2 ends the stream with the trailer and 0..7 zero bits up to the byte. The block ends
  // where the trailer begins, at a bit the stream does not state: the padding is the one before
  // which the end magic stands. The magic differs from itself shifted by 1 to 7 bits, so no
  // stream has two paddings that fit.
  const uint64_t totalBits = uint64_t(n) * 8;
  int padding = -1;
  for (unsigned pad = 0; pad < 8 && padding < 0; ++pad) {
    if ((stream[n - 1] & ((1u << pad) - 1)) != 0) break;  // more padding would take a 1 bit
    if (BitsAt(stream, totalBits - pad - kTrailerBits, 48) == kEndMagic) {
      padding = static_cast<int>(pad);
    }
  }
  if (padding < 0) return false;
  const uint64_t blockEnd = totalBits - padding - kTrailerBits;
  // One block: the combined CRC of the stream is that block's own. With more blocks it is the
  // combination of theirs.
  if (BitsAt(stream, blockEnd + 48, 32) != blockCrc) return false;

  if (blocks_ == 0) PutBytes(kHeader, sizeof kHeader);
  const uint64_t blockBits = blockEnd - 32;
  const size_t wholeBytes = static_cast<size_t>(blockBits / 8);
  const unsigned restBits = static_cast<unsigned>(blockBits % 8);
  PutBytes(stream + 4, wholeBytes);
  if (restBits > 0) PutBits(stream[4 + wholeBytes] >> (8 - restBits), restBits);
  combinedCrc_ = (combinedCrc_ << 1 | combinedCrc_ >> 31) ^ blockCrc;
  ++blocks_;
  return Drain();
}

bool Bzip2Splicer::Finish() {
  if (broken_ || finished_) return false;
  finished_ = true;
  if (blocks_ == 0) PutBytes(kHeader, sizeof kHeader);
  PutBits(kEndMagic, 48);
  PutBits(combinedCrc_, 32);
  if (pendingBits_ > 0) PutBits(0, 8 - pendingBits_);
  return Drain();
}

void Bzip2Splicer::PutBits(uint64_t value, unsigned count) {
  pending_ = pending_ << count | (value & ((uint64_t(1) << count) - 1));
  pendingBits_ += count;
  while (pendingBits_ >= 8) {
    pendingBits_ -= 8;
    out_.push_back(static_cast<uint8_t>(pending_ >> pendingBits_));
  }
  pending_ &= (uint64_t(1) << pendingBits_) - 1;
}

void Bzip2Splicer::PutBytes(const uint8_t* data, size_t n) {
  const size_t start = out_.size();
  if (pendingBits_ == 0) {
    out_.insert(out_.end(), data, data + n);
    return;
  }
  // Every byte moves by the same pendingBits_ (1..7) bits: eight at a time through a 64-bit
  // word, the low bits of each word carried into the next.
  out_.resize(start + n);
  uint8_t* out = out_.data() + start;
  const unsigned k = pendingBits_;
  const uint64_t mask = (uint64_t(1) << k) - 1;
  uint64_t carry = pending_;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const uint64_t w = LoadBig64(data + i);
    StoreBig64(out + i, carry << (64 - k) | w >> k);
    carry = w & mask;
  }
  for (; i < n; ++i) {
    out[i] = static_cast<uint8_t>(carry << (8 - k) | data[i] >> k);
    carry = data[i] & mask;
  }
  pending_ = carry;
}

bool Bzip2Splicer::Drain() {
  if (out_.empty()) return true;
  if (!sink_(out_.data(), out_.size())) {
    broken_ = true;
    return false;
  }
  bytesOut_ += out_.size();
  out_.clear();
  return true;
}
