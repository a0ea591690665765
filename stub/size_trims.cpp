// Link-time replacements that keep the extractor small; it is copied in front of every archive.
//
// 1. The C++ runtime's exception machinery is left out (with it its thread library and unwinder,
//    about a fifth of the program). The extractor's own code is built without exceptions, and
//    every place where the library would throw (out of memory, a length beyond any limit) ends
//    the program at once with the exit code of a failed unpacking, like a failed write would.
//    Nothing can throw, so the entry points that the shared libraries' cleanup code names are
//    never reached; they are defined so that the linker needs nothing more.
#include <windows.h>

namespace {
[[noreturn]] void Stop() { ExitProcess(3); }
}  // namespace

namespace __gnu_cxx {
void __verbose_terminate_handler() { Stop(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { Stop(); }
void __throw_bad_array_new_length() { Stop(); }
void __throw_bad_function_call() { Stop(); }
void __throw_length_error(const char*) { Stop(); }
void __throw_logic_error(const char*) { Stop(); }
void __throw_out_of_range(const char*) { Stop(); }
void __throw_out_of_range_fmt(const char*, ...) { Stop(); }
void __throw_invalid_argument(const char*) { Stop(); }
}  // namespace std

extern "C" {
void _Unwind_Resume(void*) { Stop(); }
void* __cxa_begin_catch(void*) { Stop(); }
void __cxa_end_catch() { Stop(); }
void __cxa_rethrow() { Stop(); }
#if defined(__x86_64__)
// Asked by Windows about any exception that passes a frame of the shared libraries: none of them
// handles one, so the search goes on (ExceptionContinueSearch).
int __gxx_personality_seh0(void*, void*, void*, void*) { return 1; }
#else
// Called only by the unwinder while an exception is thrown, which never happens here.
int __gxx_personality_v0(int, int, unsigned long long, void*, void*) { Stop(); }
#endif
}

// 2. The strings' member functions are instantiated here, function by function, so that only the
//    ones in use are linked instead of the runtime's whole precompiled string modules.
#include <string>
template class std::basic_string<char>;
template class std::basic_string<wchar_t>;
