// The C++ runtime's reports of errors that the launcher never catches, made to end it at once.
// Linked into the executable only: the runtime's own versions bring in a C++ demangler and the
// exception classes with a second string implementation (about 100 KiB), for a GUI program that
// has no console to print to and would end the same way. Running out of memory still throws
// std::bad_alloc, which the log catches.
#include <cstdlib>
#include <new>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_array_new_length(); }
}  // namespace std
