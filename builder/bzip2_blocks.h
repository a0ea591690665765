// The pieces for compressing one entry's bzip2 stream on several threads and still getting the
// very bytes EncodeBzip2Entry makes of the whole input:
//   - Bzip2BlockCutter tells where libbz2 ends each block of the stream. libbz2 at block size 900k
//     ends a block once its first run-length stage has put nblockMAX = 899,981 bytes into it, and
//     the byte that filled it up starts the next block; each block is the compression of one
//     contiguous range of the input, and nothing of one block's state carries into the next.
//   - CompressBzip2Block compresses one such range alone: its one-block stream holds the same
//     block bits as the whole input's stream holds for that range.
//   - Bzip2Splicer joins the one-block streams, in order, into the whole input's stream: the
//     header once, each block's bits shifted onto the bit where the previous block ended, then
//     the end-of-stream marker with the CRC combined over all blocks.
#pragma once

#include "builder/builder_only.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include <bzlib.h>

#include "archive/entry_decoder.h"

// Replays libbz2's first run-length stage (block size 900k, input given with BZ_RUN, as
// EncodeBzip2Entry gives it) over the input, in pieces of any size. Input given with BZ_FINISH,
// as BZ2_bzBuffToBuffCompress gives it, is cut the same but for one case: a last input byte that
// fills the block goes into that block instead of making a block of its own.
class Bzip2BlockCutter {
 public:
  // The most bytes libbz2 puts into a block of 900k before it compresses it.
  static constexpr uint32_t kBlockLimit = 100000 * 9 - 19;

  // Takes the next n bytes of input and returns how many of them belong to the current block: n
  // while the block goes on; less than n when the block ended just before data[returned]. The
  // cutter is then at the start of the next block, and the next call is to begin with that byte.
  size_t Take(const uint8_t* data, size_t n);

 private:
  uint32_t filled_ = 0;     // bytes the run-length stage has put into the current block
  uint32_t runByte_ = 0;    // the byte of the run not yet put into the block (when runLength_ > 0)
  uint32_t runLength_ = 0;  // 0 at the start of a block, then 1..255
};

// Compresses data as one bzip2 stream exactly as EncodeBzip2Entry does (level 9, work factor 0,
// the input given with BZ_RUN, then BZ_FINISH) into stream, replacing its contents. For a range
// the cutter gave as one block the stream holds exactly that block; for any other input it may
// hold several blocks, which Bzip2Splicer refuses. False when the library fails (stream is then
// empty).
bool CompressBzip2Block(const uint8_t* data, size_t n, std::vector<uint8_t>& stream);

// The same, for input that comes in pieces: Add every piece in order, then Finish. The pieces'
// sizes do not change the bytes. Each call is false once the library has failed.
class Bzip2BlockCompressor {
 public:
  explicit Bzip2BlockCompressor(std::vector<uint8_t>& stream);
  ~Bzip2BlockCompressor();
  Bzip2BlockCompressor(const Bzip2BlockCompressor&) = delete;
  Bzip2BlockCompressor& operator=(const Bzip2BlockCompressor&) = delete;
  bool Add(const uint8_t* data, size_t n);
  bool Finish();

 private:
  int Call(int action);

  std::vector<uint8_t>& stream_;
  bz_stream strm_{};
  size_t used_ = 0;
  bool ok_ = false;
  bool started_ = false;
};

// Joins one-block streams into one bzip2 stream of block size 900k and hands every complete byte
// to the sink as soon as it is known; the splicer keeps under one byte between calls.
class Bzip2Splicer {
 public:
  explicit Bzip2Splicer(ByteSink sink);

  // Appends the block of a one-block stream (as CompressBzip2Block makes it). Refuses, returning
  // false and changing nothing, a stream that is not "BZh9", one block and the end-of-stream
  // marker with that block's CRC, padded with zero bits: a stream of several blocks, a cut or
  // damaged one, anything else. Also false when the sink refuses; then the splicer is broken,
  // and every later call returns false.
  bool AddBlock(const uint8_t* stream, size_t n);
  // Writes the end of the stream (the header too when no block came). False when the sink
  // refuses, the splicer is broken or Finish has already run.
  bool Finish();

  // Bytes handed to the sink so far.
  uint64_t BytesOut() const { return bytesOut_; }
  // The blocks appended so far.
  uint64_t Blocks() const { return blocks_; }

 private:
  // Appends count (0..57) bits, the low ones of value, most significant first.
  void PutBits(uint64_t value, unsigned count);
  // Appends whole bytes.
  void PutBytes(const uint8_t* data, size_t n);
  // Hands the complete bytes gathered in out_ to the sink.
  bool Drain();

  ByteSink sink_;
  std::vector<uint8_t> out_;  // complete bytes not yet handed over
  uint64_t pending_ = 0;      // bits not yet a whole byte, in the low pendingBits_ bits
  unsigned pendingBits_ = 0;  // 0..7
  uint32_t combinedCrc_ = 0;
  uint64_t blocks_ = 0;
  uint64_t bytesOut_ = 0;
  bool broken_ = false;
  bool finished_ = false;
};
