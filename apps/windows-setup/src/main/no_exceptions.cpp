#include <windows.h>

#include <cstdlib>

// No exception ever escapes this program's single thread: errors are values, and a throw inside
// the library is a program fault. So each of the library's throws ends the process at once, as an
// uncaught exception would, and what it needs of the exception runtime is defined here. That keeps
// the whole runtime out of the image (throwing, unwinding, the thread-local storage it keeps and
// the threads library beneath that, some 40 KB), and the demangler that libstdc++'s default
// terminate handler would link to print the name of an escaping exception.

namespace __gnu_cxx {
[[noreturn]] void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
[[noreturn]] void __throw_bad_exception() { std::abort(); }
[[noreturn]] void __throw_bad_alloc() { std::abort(); }
[[noreturn]] void __throw_bad_array_new_length() { std::abort(); }
[[noreturn]] void __throw_bad_cast() { std::abort(); }
[[noreturn]] void __throw_bad_typeid() { std::abort(); }
[[noreturn]] void __throw_bad_function_call() { std::abort(); }
[[noreturn]] void __throw_logic_error(const char*) { std::abort(); }
[[noreturn]] void __throw_domain_error(const char*) { std::abort(); }
[[noreturn]] void __throw_invalid_argument(const char*) { std::abort(); }
[[noreturn]] void __throw_length_error(const char*) { std::abort(); }
[[noreturn]] void __throw_out_of_range(const char*) { std::abort(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
[[noreturn]] void __throw_runtime_error(const char*) { std::abort(); }
[[noreturn]] void __throw_range_error(const char*) { std::abort(); }
[[noreturn]] void __throw_overflow_error(const char*) { std::abort(); }
[[noreturn]] void __throw_underflow_error(const char*) { std::abort(); }
}  // namespace std

// The library's own code was built with exceptions. Its catch blocks can never be entered, since
// nothing throws; and no frame of it ever handles a structured exception (an access violation),
// which goes on to the system's handling as it would anyway.
extern "C" {
EXCEPTION_DISPOSITION __gxx_personality_seh0(PEXCEPTION_RECORD, void*, PCONTEXT, PDISPATCHER_CONTEXT) {
    return ExceptionContinueSearch;
}
[[noreturn]] void* __cxa_begin_catch(void*) noexcept { std::abort(); }
[[noreturn]] void __cxa_end_catch() { std::abort(); }
[[noreturn]] void __cxa_rethrow() { std::abort(); }
}
