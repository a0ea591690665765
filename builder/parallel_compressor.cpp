#include "builder/parallel_compressor.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "archive/archive_layout.h"
#include "archive/entry_encoder.h"
#include "builder/bzip2_blocks.h"
#include "builder/file_helpers.h"
#include "platform/platform.h"

namespace {

constexpr size_t kChunk = 64000;  // read size, as the one-thread build reads
// Compressed bytes of one entry kept in memory; beyond that they go to a temporary file.
constexpr size_t kMemoryPerEntry = size_t(1) << 20;
// Files from this size on are cut into bzip2 blocks, compressed one by one on all threads.
constexpr uint64_t kSplitFrom = 900000;
// Memory of cut blocks waiting to be compressed, per thread: a last bound behind the count of
// waiting blocks, as each takes about a megabyte (see BlockInput).
constexpr uint64_t kBlockBytesPerJob = uint64_t(64) << 20;
// Compressed bytes in memory that wait for the writer, per thread: beyond that, workers take
// no new unit but the one the writer waits for.
constexpr uint64_t kHeldBytesPerJob = uint64_t(8) << 20;
// Units that may wait at once, per thread: whole files cost nothing until a worker takes them.
constexpr size_t kUnitsPerJob = 64;

// A source file open for reading, closed when it goes.
struct CloseFile {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using SourceStream = std::unique_ptr<std::FILE, CloseFile>;

// The room the spill files take in the temporary folder, where the data file needs it too.
// Once a spill or the data file finds the folder full, no spill is begun or written again and
// every one is given back: a build on several threads then needs no more room there than one
// on a single thread.
class SpillRoom {
 public:
  // A spill file is begun; false once the folder has been found full.
  bool Enter() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (full_) return false;
    ++open_;
    used_ = true;
    return true;
  }
  // A spill file is closed, and its room given back.
  void Leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--open_ == 0) empty_.notify_all();
  }
  void MarkFull() { full_ = true; }
  bool Full() const { return full_; }
  // A spill file has been begun in this build.
  bool Used() {
    std::lock_guard<std::mutex> lock(mutex_);
    return used_;
  }
  // Waits until every spill file is closed. Each is closed once the worker writing it sees the
  // folder full, or by the writer, so the wait ends.
  void WaitEmpty() {
    std::unique_lock<std::mutex> lock(mutex_);
    empty_.wait(lock, [this] { return open_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable empty_;
  int open_ = 0;
  bool used_ = false;
  std::atomic<bool> full_{false};
};

// The compressed bytes of one entry: in memory, or in an unnamed temporary file once they are
// more than kMemoryPerEntry and room has it.
class EntryBuffer {
 public:
  EntryBuffer() = default;
  EntryBuffer(const EntryBuffer&) = delete;
  EntryBuffer& operator=(const EntryBuffer&) = delete;
  ~EntryBuffer() { Drop(); }

  // The room its spill file draws on; without one, the bytes are kept in memory only.
  void UseRoom(SpillRoom* room) { room_ = room; }

  // False when the bytes cannot be kept: no memory, or a spill file that cannot be written
  // (the folder is then marked full) or that must give its room back.
  bool Add(const uint8_t* data, size_t n) {
    size_ += n;
    if (spill_ == nullptr && memory_.size() + n <= kMemoryPerEntry) {
      try {
        memory_.insert(memory_.end(), data, data + n);
      } catch (const std::bad_alloc&) {
        return false;
      }
      return true;
    }
    if (spill_ == nullptr && !StartSpill()) return false;
    if (room_->Full()) return false;
    if (std::fwrite(data, 1, n, spill_) == n) return true;
    room_->MarkFull();
    return false;
  }

  // Appends every byte to the data file through compressor; false when the temporary file
  // cannot be read back (readFailed) or the data file failed.
  bool WriteTo(TCompressor& compressor, bool& readFailed) {
    readFailed = false;
    if (spill_ == nullptr) {
      return memory_.empty() || compressor.WriteData(memory_.data(), memory_.size());
    }
    if (std::fflush(spill_) != 0 || !platform::Seek64(spill_, 0, SEEK_SET)) {
      readFailed = true;
      return false;
    }
    return compressor.WriteDataFrom(spill_, static_cast<int64_t>(size_), readFailed);
  }

  uint64_t Size() const { return size_; }
  uint64_t InMemory() const { return memory_.size(); }
  // A spill file holds room in the temporary folder.
  bool Spilled() const { return entered_; }

  void Drop() {
    if (spill_ != nullptr) std::fclose(spill_);
    spill_ = nullptr;
    if (!spillName_.empty()) platform::Current().Remove(spillName_);
    spillName_.clear();
    std::vector<uint8_t>().swap(memory_);
    if (entered_) room_->Leave();
    entered_ = false;
  }

 private:
  // Any failure here marks the folder full: a name or a file that cannot be had there, or
  // bytes that cannot be written, all mean the data file may need the room.
  bool StartSpill() {
    if (room_ == nullptr || !room_->Enter()) return false;
    entered_ = true;
    platform::Os& os = platform::Current();
    spillName_ = MakeTempName("zal");
    spill_ = spillName_.empty() ? nullptr : os.Open(spillName_, "w+b");
    if (spill_ == nullptr) {
      room_->MarkFull();
      return false;
    }
    // Where an open file can lose its name (POSIX), it does so at once: even a killed build
    // leaves nothing behind. Elsewhere it is removed when the entry is dropped.
    if (os.Remove(spillName_)) spillName_.clear();
    if (!memory_.empty() &&
        std::fwrite(memory_.data(), 1, memory_.size(), spill_) != memory_.size()) {
      room_->MarkFull();
      return false;
    }
    std::vector<uint8_t>().swap(memory_);
    return true;
  }

  SpillRoom* room_ = nullptr;
  bool entered_ = false;  // counted in room_ until dropped
  std::vector<uint8_t> memory_;
  std::FILE* spill_ = nullptr;
  std::string spillName_;
  uint64_t size_ = 0;
};

// The input of one bzip2 block. Most blocks take 899,981 bytes or little more, and are kept as
// they are. A block of long runs of one byte takes up to ~46 MB of input; once a block's input
// passes kPlainBlockMax it is kept run-length coded from then on (a run of 4 to 255 equal bytes
// as 4 bytes and a count, as bzip2's first stage codes it), so no block takes much more than a
// megabyte of memory, whatever its runs.
class BlockInput {
 public:
  static constexpr size_t kPlainBlockMax = size_t(2) << 20;

  void Append(const uint8_t* p, size_t n) {
    size_ += n;
    if (!coded_) {
      data_.insert(data_.end(), p, p + n);
      if (data_.size() <= kPlainBlockMax) return;
      std::vector<uint8_t> plain;
      plain.swap(data_);
      coded_ = true;
      Code(plain.data(), plain.size());
      return;
    }
    Code(p, n);
  }
  // Ends the coding of the last run; called once, when the block is complete.
  void Close() {
    if (coded_) PutRun();
  }
  void Reserve(size_t n) { data_.reserve(n); }
  uint64_t Size() const { return size_; }
  size_t Held() const { return data_.capacity(); }
  void Release() { std::vector<uint8_t>().swap(data_); }

  // Hands the input, decoded, to consume in pieces of at most kChunk bytes. False when consume
  // refuses.
  bool ForEach(const std::function<bool(const uint8_t*, size_t)>& consume) const {
    if (!coded_) {
      for (size_t at = 0; at < data_.size(); at += kChunk) {
        if (!consume(data_.data() + at, std::min(kChunk, data_.size() - at))) return false;
      }
      return true;
    }
    std::vector<uint8_t> out;
    out.reserve(kChunk + 256);
    int last = -1;
    int equal = 0;  // how many times last came in a row, up to 4
    for (size_t i = 0; i < data_.size(); ++i) {
      const uint8_t b = data_[i];
      if (equal == 4) {  // b is the count of further copies of last
        out.insert(out.end(), b, static_cast<uint8_t>(last));
        equal = 0;
        last = -1;
      } else {
        out.push_back(b);
        equal = b == last ? equal + 1 : 1;
        last = b;
      }
      if (out.size() >= kChunk) {
        if (!consume(out.data(), out.size())) return false;
        out.clear();
      }
    }
    return out.empty() || consume(out.data(), out.size());
  }

 private:
  void Code(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (runLength_ > 0 && p[i] == runByte_ && runLength_ < 255) {
        ++runLength_;
        continue;
      }
      PutRun();
      runByte_ = p[i];
      runLength_ = 1;
    }
  }
  void PutRun() {
    if (runLength_ == 0) return;
    if (runLength_ < 4) {
      data_.insert(data_.end(), runLength_, runByte_);
    } else {
      data_.insert(data_.end(), 4, runByte_);
      data_.push_back(static_cast<uint8_t>(runLength_ - 4));
    }
    runLength_ = 0;
  }

  std::vector<uint8_t> data_;
  uint64_t size_ = 0;  // input bytes
  bool coded_ = false;
  uint8_t runByte_ = 0;
  unsigned runLength_ = 0;  // the run not yet coded
};

// Compresses a block's input into a stream of its own, as CompressBzip2Block does.
bool CompressBlockInput(const BlockInput& input, std::vector<uint8_t>& stream) {
  Bzip2BlockCompressor compressor(stream);
  const bool ok = input.ForEach([&](const uint8_t* p, size_t n) { return compressor.Add(p, n); }) &&
                  compressor.Finish();
  if (!ok) stream.clear();
  return ok;
}

// One piece of work, in the order the data file needs it: a whole file, or one bzip2 block of a
// file that is cut into blocks.
struct Unit {
  size_t file = 0;
  bool block = false;  // one block of a cut file
  bool first = false;  // a cut file's first unit
  bool last = false;   // a cut file's last unit
  // A cut file that could not be read to its end: this last unit carries no block.
  bool sourceFailed = false;
  BlockInput input;  // a block's input, until it is compressed

  // Set by the file's reader (the worker for a whole file, the cutting thread for a cut one).
  platform::DosTime date;
  uint64_t size = 0;  // the whole file's bytes

  // The result.
  uint64_t held = 0;  // compressed bytes it holds in memory once done
  bool done = false;
  bool ok = false;
  EntryBuffer whole;              // a whole file's entry data
  std::vector<uint8_t> oneBlock;  // a block, as a bzip2 stream of its own
};

class Pipeline {
 public:
  Pipeline(TCompressor& compressor, const std::vector<ParallelFile>& files, int jobs,
           const std::function<void(const std::string&)>& progress)
      : compressor_(compressor),
        files_(files),
        jobs_(jobs),
        progress_(progress),
        os_(platform::Current()),
        bzip2_(compressor.Method == layout::kMethodBzip2),
        window_(kUnitsPerJob * static_cast<size_t>(jobs) + kUnitsPerJob),
        blocksAhead_(2 * static_cast<size_t>(jobs) + 1),
        heldBudget_(kHeldBytesPerJob * static_cast<uint64_t>(jobs)) {}
  ~Pipeline() { Stop(); }

  size_t Run();

 private:
  // Producer side.
  void Produce();
  void CutFile(size_t file);
  bool CutChunk(Bzip2BlockCutter& cutter, const uint8_t* p, size_t n, std::unique_ptr<Unit>& unit);
  void FailCut(std::unique_ptr<Unit> unit);
  bool Push(std::unique_ptr<Unit> unit);
  // Worker side.
  void Work();
  void CompressWhole(Unit& unit);
  void CompressBlock(Unit& unit);
  // Writer side. What became of a unit written: its file is still open (more blocks to come),
  // done, to be written again by the one-thread compressor, or the data file failed.
  enum class Written { Pending, Done, Fallback, DataFailed };
  bool StartThreads();
  size_t RunOnOneThread();
  Written WriteWhole(Unit& unit, int64_t& takeBackFrom);
  Written WriteBlock(Unit& unit, int64_t& takeBackFrom);
  Unit* WaitHead();
  void PopHead();
  bool Fallback(size_t file, int64_t truncateAt);
  bool GiveBackRoom();
  void ShowProgress(bool force);
  void Stop();
  bool Stopping() const {
    return stop_.load() ||
           (compressor_.CancelRequested != nullptr && compressor_.CancelRequested->load());
  }

  TCompressor& compressor_;
  const std::vector<ParallelFile>& files_;
  const int jobs_;
  const std::function<void(const std::string&)>& progress_;
  platform::Os& os_;
  const bool bzip2_;
  const size_t window_;        // units held at once, from the head to the newest
  const size_t blocksAhead_;   // blocks pushed and not yet compressed, at most
  const uint64_t heldBudget_;  // see kHeldBytesPerJob

  std::mutex mutex_;
  std::condition_variable workReady_;  // a unit to take, or the end
  std::condition_variable unitDone_;   // a unit done, or the producer at its end
  std::condition_variable space_;      // room in the window
  std::deque<std::unique_ptr<Unit>> units_;
  size_t head_ = 0;          // number of the unit at units_.front()
  size_t nextToTake_ = 0;    // number of the next unit for a worker
  uint64_t blockBytes_ = 0;  // input of blocks not yet compressed
  size_t blocksWaiting_ = 0;  // blocks pushed and not yet compressed
  uint64_t heldBytes_ = 0;   // compressed bytes in memory of units done and not yet written
  bool produced_ = false;    // the producer has pushed its last unit
  // Who waits, so that nobody is woken for nothing (every wake is a switch on a busy machine).
  int idleWorkers_ = 0;
  bool producerWaits_ = false;
  bool writerWaits_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> bytesDone_{0};
  std::vector<std::thread> threads_;

  size_t filesWritten_ = 0;
  std::string shownProgress_;
  // The writer's cut file: the place of its entry header and the splicer of its blocks.
  std::unique_ptr<Bzip2Splicer> splicer_;
  int64_t headerPos_ = -1;
  bool dataFailed_ = false;  // the splicer's write to the data file failed
  SpillRoom room_;
  bool roomGivenBack_ = false;        // GiveBackRoom has been done
  size_t leftToFallback_ = SIZE_MAX;  // a cut file already given to the one-thread compressor
};

// ---- producer --------------------------------------------------------------------------------

bool Pipeline::Push(std::unique_ptr<Unit> unit) {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t bytes = unit->input.Held();
  const uint64_t budget = kBlockBytesPerJob * static_cast<uint64_t>(jobs_);
  const bool block = unit->block;
  producerWaits_ = true;
  space_.wait(lock, [&] {
    return Stopping() ||
           (units_.size() < window_ &&
            (!block || (blocksWaiting_ < blocksAhead_ &&
                        (blockBytes_ == 0 || blockBytes_ + bytes <= budget))));
  });
  producerWaits_ = false;
  if (Stopping()) return false;
  blockBytes_ += bytes;
  if (block) ++blocksWaiting_;
  units_.push_back(std::move(unit));
  if (idleWorkers_ > 0) workReady_.notify_one();
  return true;
}

void Pipeline::Produce() {
  for (size_t i = 0; i < files_.size() && !Stopping(); ++i) {
    if (bzip2_ && files_[i].size >= kSplitFrom) {
      CutFile(i);
    } else {
      auto unit = std::make_unique<Unit>();
      unit->file = i;
      if (!Push(std::move(unit))) break;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  produced_ = true;
  workReady_.notify_all();
  unitDone_.notify_one();
}

// A unit for a block of a cut file.
std::unique_ptr<Unit> NewBlockUnit(size_t file, bool first) {
  auto unit = std::make_unique<Unit>();
  unit->file = file;
  unit->block = true;
  unit->first = first;
  unit->input.Reserve(Bzip2BlockCutter::kBlockLimit + kChunk);  // the size of most blocks
  return unit;
}

// Ends a cut file with a unit that says its source failed.
void Pipeline::FailCut(std::unique_ptr<Unit> unit) {
  unit->input.Release();
  unit->last = true;
  unit->sourceFailed = true;
  Push(std::move(unit));
}

// Reads a file as the one-thread build does, in chunks, and cuts it where libbz2 ends each
// block. A file that cannot be opened or read to its end ends in a unit that says so; the
// writer then leaves the file to the one-thread compressor.
void Pipeline::CutFile(size_t file) {
  const ParallelFile& source = files_[file];
  std::unique_ptr<Unit> unit = NewBlockUnit(file, true);
  int64_t size = 0;
  const char* refused = nullptr;
  const SourceStream in(OpenSource(source.sourcePath, size, refused));
  if (in == nullptr || refused != nullptr) {
    FailCut(std::move(unit));
    return;
  }
  std::vector<uint8_t> chunk(kChunk);
  SourceReader reader(in.get(), chunk.data(), chunk.size());
  reader.stop = [this] { return Stopping(); };
  const platform::DosTime date = SourceTime(os_, source.sourcePath, compressor_.LatestTime);

  Bzip2BlockCutter cutter;
  for (;;) {
    const uint8_t* p = nullptr;
    const int64_t n = reader.Next(p);
    if (n < 0 && Stopping()) return;
    if (n < 0) {
      FailCut(std::move(unit));
      return;
    }
    if (n == 0) break;
    if (!CutChunk(cutter, p, static_cast<size_t>(n), unit)) return;
  }
  const uint64_t fileBytes = static_cast<uint64_t>(reader.BytesRead());
  unit->input.Close();
  unit->last = true;
  unit->date = date;
  unit->size = fileBytes;
  Push(std::move(unit));
}

// Puts the n bytes at p into the current block's unit, pushing each block the cutter ends and
// going on in a new unit. False when the file ended here (its failure pushed, or a stop).
bool Pipeline::CutChunk(Bzip2BlockCutter& cutter, const uint8_t* p, size_t n,
                        std::unique_ptr<Unit>& unit) {
  size_t left = n;
  while (left > 0) {
    const size_t taken = cutter.Take(p, left);
    try {
      unit->input.Append(p, taken);
    } catch (const std::bad_alloc&) {
      FailCut(std::move(unit));  // the one-thread compressor tries again and says what it finds
      return false;
    }
    p += taken;
    left -= taken;
    if (left > 0) {  // the block ended before p
      unit->input.Close();
      const size_t file = unit->file;
      if (!Push(std::move(unit))) return false;
      unit = NewBlockUnit(file, false);
    }
  }
  return true;
}

// ---- workers ---------------------------------------------------------------------------------

void Pipeline::Work() {
  for (;;) {
    Unit* unit = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // The unit the writer waits for is always taken, so the writer can always go on.
      auto mayTake = [&] {
        return nextToTake_ < head_ + units_.size() &&
               (heldBytes_ <= heldBudget_ || nextToTake_ == head_);
      };
      ++idleWorkers_;
      workReady_.wait(lock, [&] {
        return Stopping() || mayTake() || (produced_ && nextToTake_ >= head_ + units_.size());
      });
      --idleWorkers_;
      if (Stopping() || !mayTake()) return;
      unit = units_[nextToTake_ - head_].get();
      ++nextToTake_;
    }
    const uint64_t blockInput = unit->input.Held();
    try {
      if (unit->block) {
        CompressBlock(*unit);
      } else {
        CompressWhole(*unit);
      }
    } catch (const std::bad_alloc&) {
      // Out of memory: the one-thread compressor tries the file again and says what it finds.
      unit->ok = false;
      unit->whole.Drop();
      unit->input.Release();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    // Room given back meanwhile: the writer does this file itself (see GiveBackRoom).
    if (unit->whole.Spilled() && room_.Full()) {
      unit->ok = false;
      unit->whole.Drop();
    }
    blockBytes_ -= blockInput;
    if (unit->block) --blocksWaiting_;
    unit->held = unit->whole.InMemory() + unit->oneBlock.size();
    heldBytes_ += unit->held;
    unit->done = true;
    if (writerWaits_ && unit == units_.front().get()) unitDone_.notify_one();
    if (producerWaits_ && unit->block) space_.notify_one();
  }
}

void Pipeline::CompressBlock(Unit& unit) {
  if (unit.sourceFailed) return;  // nothing to compress; the writer falls back
  unit.ok = CompressBlockInput(unit.input, unit.oneBlock);
  bytesDone_ += unit.input.Size();
  unit.input.Release();
}

// The same steps as TCompressor::WriteEntry, into the unit's buffer. Whatever goes wrong leaves
// ok false, and the writer lets the one-thread compressor do the file (and say why).
void Pipeline::CompressWhole(Unit& unit) {
  const std::string& path = files_[unit.file].sourcePath;
  int64_t size = 0;
  const char* refused = nullptr;
  const SourceStream in(OpenSource(path, size, refused));
  if (in == nullptr || refused != nullptr) return;
  unit.whole.UseRoom(&room_);
  std::vector<uint8_t> chunk(kChunk);
  SourceReader reader(in.get(), chunk.data(), chunk.size());
  reader.stop = [this] { return Stopping(); };
  reader.counted = [this](size_t n) { bytesDone_ += n; };
  unit.date = SourceTime(os_, path, compressor_.LatestTime);
  const ChunkSource source = [&reader](const uint8_t*& data) { return reader.Next(data); };
  const ByteSink sink = [&](const uint8_t* data, size_t n) { return unit.whole.Add(data, n); };
  EncodedSize encoded;
  const EncodeStatus status =
      EncodeEntry(compressor_.Method, source, sink, ChunkDone(), encoded);
  unit.size = encoded.in;
  unit.ok = status == EncodeStatus::Ok && encoded.in <= layout::kMaxFileSize &&
            encoded.out <= layout::kMaxFileSize;
  if (!unit.ok) unit.whole.Drop();
}

// ---- writer ----------------------------------------------------------------------------------

Unit* Pipeline::WaitHead() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (Stopping()) return nullptr;
    if (!units_.empty() && units_.front()->done) return units_.front().get();
    if (units_.empty() && produced_) return nullptr;
    // The wait has a limit only so that the progress line moves during a long file.
    writerWaits_ = true;
    unitDone_.wait_for(lock, std::chrono::milliseconds(250));
    writerWaits_ = false;
    lock.unlock();
    ShowProgress(false);
    lock.lock();
  }
}

void Pipeline::PopHead() {
  std::lock_guard<std::mutex> lock(mutex_);
  heldBytes_ -= units_.front()->held;
  units_.pop_front();
  ++head_;
  if (producerWaits_) space_.notify_one();
  // Workers held back by the memory budget, or waiting for the unit that is now the head.
  if (idleWorkers_ > 0 && nextToTake_ < head_ + units_.size()) workReady_.notify_all();
}

// Leaves file to the one-thread compressor, after taking back what was written of its entry
// from truncateAt on (-1: nothing was). When the data file runs full while spill files hold
// room, that room is given back and the file written once more.
bool Pipeline::Fallback(size_t file, int64_t truncateAt) {
  if (truncateAt >= 0 && !compressor_.TruncateTo(truncateAt)) return false;
  const int64_t entryStart = platform::Tell64(compressor_.OutFile);
  compressor_.SourcePath = files_[file].sourcePath;
  compressor_.StoredName = files_[file].storedName;
  if (compressor_.AddFile()) return true;
  if (!compressor_.OutputFailed || entryStart < 0 || !GiveBackRoom()) return false;
  return compressor_.TruncateTo(entryStart) && compressor_.AddFile();
}

// The data file could not be written, and spill files may hold room beside it: marks the
// folder full, drops every spill of a unit done (its file is then left to the one-thread
// compressor) and waits until the workers have closed theirs. False when there is no room to
// give back (no spill was ever begun, or it was given back before): the failure stands.
bool Pipeline::GiveBackRoom() {
  if (roomGivenBack_ || !room_.Used()) return false;
  roomGivenBack_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    room_.MarkFull();
    for (const std::unique_ptr<Unit>& unit : units_) {
      if (unit->done && unit->whole.Spilled()) {
        unit->ok = false;
        unit->whole.Drop();
      }
    }
  }
  room_.WaitEmpty();
  dataFailed_ = false;
  return true;
}

void Pipeline::ShowProgress(bool force) {
  if (!progress_) return;
  const uint64_t whole = compressor_.TrueTotalSize != 0
                             ? compressor_.TrueTotalSize
                             : static_cast<uint32_t>(compressor_.TotalSize);
  const uint64_t done = bytesDone_.load();
  const uint64_t percent = whole == 0 ? 100 : std::min<uint64_t>(100, done * 100 / whole);
  const std::string text = "Dateien: " + std::to_string(filesWritten_) + " von " +
                           std::to_string(files_.size()) + ", Total: " + std::to_string(percent) +
                           " Prozent";
  if (!force && text == shownProgress_) return;
  shownProgress_ = text;
  progress_(text);
}

void Pipeline::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    workReady_.notify_all();
    space_.notify_all();
    unitDone_.notify_all();
  }
  for (std::thread& t : threads_) {
    if (t.joinable()) t.join();
  }
  threads_.clear();
  units_.clear();
}

size_t Pipeline::Run() {
  if (!compressor_.Begin()) return 0;
  if (!StartThreads()) return RunOnOneThread();

  size_t expected = 0;  // the file the next entry belongs to
  for (;;) {
    Unit* unit = WaitHead();
    if (unit == nullptr) break;
    const size_t file = unit->file;
    int64_t takeBackFrom = -1;  // where what is written of this file's entry starts
    Written written = Written::Pending;
    if (file != leftToFallback_) {  // else: blocks of a file the one-thread compressor has written
      written = unit->block ? WriteBlock(*unit, takeBackFrom) : WriteWhole(*unit, takeBackFrom);
    }
    // The data file failed: as on one thread, unless spill files held room it needs.
    if (written == Written::DataFailed) {
      if (takeBackFrom < 0 || !GiveBackRoom()) return file;
      written = Written::Fallback;
    }
    if (written == Written::Fallback) {
      splicer_.reset();
      if (!Fallback(file, takeBackFrom)) return file;
      written = Written::Done;
      if (unit->block && !unit->last) leftToFallback_ = file;
    }
    if (written == Written::Done) {
      splicer_.reset();
      if (!compressor_.WithinLimit()) return file;  // the archive is too large already
      ++filesWritten_;
      expected = file + 1;
      ShowProgress(false);
    }
    PopHead();
  }
  if (Stopping() && expected < files_.size()) {
    // Cancelled from outside: the file in hand is the one that failed.
    compressor_.Cancelled = compressor_.CancelRequested != nullptr &&
                            compressor_.CancelRequested->load();
    compressor_.LastError = "Abgebrochen";
    return expected;
  }
  return files_.size();
}

bool Pipeline::StartThreads() {
  try {
    threads_.emplace_back([this] { Produce(); });
    for (int i = 0; i < jobs_; ++i) threads_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
    Stop();
    return false;
  }
  return true;
}

// No threads to be had: the files go one after the other, as with one thread.
size_t Pipeline::RunOnOneThread() {
  for (size_t i = 0; i < files_.size(); ++i) {
    if (!Fallback(i, -1)) return i;
  }
  return files_.size();
}

// A file compressed whole: its header, then its compressed bytes.
Pipeline::Written Pipeline::WriteWhole(Unit& unit, int64_t& takeBackFrom) {
  const std::string& name = files_[unit.file].storedName;
  if (!unit.ok || name.size() > layout::kMaxStoredName) return Written::Fallback;
  bool readFailed = false;
  if (!compressor_.WriteHeader(name, &unit.date, unit.size, unit.whole.Size(), takeBackFrom)) {
    return Written::DataFailed;
  }
  if (!unit.whole.WriteTo(compressor_, readFailed)) {
    if (!readFailed) return Written::DataFailed;
    // A spill that could not be written out whole: its room goes back before the file is
    // compressed again.
    room_.MarkFull();
    unit.whole.Drop();
    return Written::Fallback;
  }
  return Written::Done;
}

// One block of a cut file: the first writes a header whose sizes the last fills in; each is
// spliced onto the stream written so far.
Pipeline::Written Pipeline::WriteBlock(Unit& unit, int64_t& takeBackFrom) {
  const std::string& name = files_[unit.file].storedName;
  if (unit.first) {
    headerPos_ = -1;
    if (!unit.sourceFailed && name.size() <= layout::kMaxStoredName) {
      if (!compressor_.WriteHeader(name, nullptr, 0, 0, headerPos_)) {
        takeBackFrom = headerPos_;
        return Written::DataFailed;
      }
      splicer_ = std::make_unique<Bzip2Splicer>([this](const uint8_t* data, size_t n) {
        if (compressor_.WriteData(data, n)) return true;
        dataFailed_ = true;
        return false;
      });
    }
  }
  takeBackFrom = headerPos_;
  if (unit.sourceFailed || headerPos_ < 0 || !unit.ok ||
      !splicer_->AddBlock(unit.oneBlock.data(), unit.oneBlock.size())) {
    return dataFailed_ ? Written::DataFailed : Written::Fallback;
  }
  if (!unit.last) return Written::Pending;
  if (!splicer_->Finish()) return Written::DataFailed;
  const uint64_t out = splicer_->BytesOut();
  if (out > layout::kMaxFileSize) return Written::Fallback;
  if (!compressor_.FillHeader(headerPos_, name, unit.date, unit.size, out)) {
    return Written::DataFailed;
  }
  return Written::Done;
}

}  // namespace

size_t AddFilesInParallel(TCompressor& compressor, const std::vector<ParallelFile>& files, int jobs,
                          const std::function<void(const std::string&)>& progress) {
  if (files.empty()) return 0;
  Pipeline pipeline(compressor, files, std::max(1, jobs), progress);
  return pipeline.Run();
}

int DefaultJobs() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min(n, 64u));
}
