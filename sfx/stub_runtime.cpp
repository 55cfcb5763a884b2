// The parts of the C++ runtime a stub replaces to stay small. The standard
// library's containers report misuse through these functions; the stubs
// never recover from that, so each one ends the program at once instead of
// bringing in exception objects, message formatting and the demangler.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory_resource>
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
void __throw_bad_array_new_length() { std::abort(); }
void __throw_bad_alloc() { std::abort(); }
}  // namespace std

// Allocation straight from the C runtime's heap. A failed plain `new` ends
// the program; the readers ask with std::nothrow where they can go on.
void* operator new(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) std::abort();
    return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace std {
void __glibcxx_assert_fail(const char*, int, const char*, const char*) noexcept { std::abort(); }
}  // namespace std
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

// The cabinet engines allocate through a memory resource. The runtime
// library defines the base's destructor in the object that also holds the
// library's own resources (and with them threads and exceptions); defining
// it here keeps all of that out.
std::pmr::memory_resource::~memory_resource() = default;

// The runtime's own printf family (which std::snprintf reaches) formats
// floating point and more; the stubs format a few integers, which the
// system's C library does as well.
extern "C" int __mingw_vsnprintf(char* buffer, std::size_t size, const char* format, va_list arguments) {
    if (size == 0) return 0;
    int length = _vsnprintf(buffer, size - 1, format, arguments);
    buffer[size - 1] = '\0';
    return length;
}
