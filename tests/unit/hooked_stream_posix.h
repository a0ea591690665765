// A C stream whose reads or writes a test decides (a disk that fills up, a read that fails
// halfway), over a real file whose seeks and close it keeps. POSIX only (fopencookie).
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <memory>

namespace testutil {

using ReadHook = std::function<ssize_t(std::FILE* file, char* buffer, size_t n)>;
using WriteHook = std::function<ssize_t(std::FILE* file, const char* buffer, size_t n)>;

// A stream over file (taken over: closed with the stream) in mode. Reads go through read and
// writes through write; an empty hook reads or writes file as it is. nullptr (file closed) when
// no stream can be made.
inline std::FILE* HookedStream(std::FILE* file, const char* mode, ReadHook read,
                               WriteHook write) {
  struct Hooked {
    std::FILE* file;
    ReadHook read;
    WriteHook write;
  };
  cookie_io_functions_t io{};
  io.read = [](void* c, char* buf, size_t n) -> ssize_t {
    Hooked* h = static_cast<Hooked*>(c);
    return h->read ? h->read(h->file, buf, n)
                   : static_cast<ssize_t>(std::fread(buf, 1, n, h->file));
  };
  io.write = [](void* c, const char* buf, size_t n) -> ssize_t {
    Hooked* h = static_cast<Hooked*>(c);
    return h->write ? h->write(h->file, buf, n)
                    : static_cast<ssize_t>(std::fwrite(buf, 1, n, h->file));
  };
  io.seek = [](void* c, off64_t* offset, int whence) -> int {
    Hooked* h = static_cast<Hooked*>(c);
    if (fseeko(h->file, *offset, whence) != 0) return -1;
    *offset = ftello(h->file);
    return 0;
  };
  io.close = [](void* c) -> int {
    std::unique_ptr<Hooked> h(static_cast<Hooked*>(c));
    return std::fclose(h->file);
  };
  Hooked* h = new Hooked{file, std::move(read), std::move(write)};
  std::FILE* stream = fopencookie(h, mode, io);
  if (stream == nullptr) {
    std::fclose(file);
    delete h;
  }
  return stream;
}

}  // namespace testutil
