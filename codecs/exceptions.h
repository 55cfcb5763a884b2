// Allocation failures inside the codecs and the cabinet engines travel as
// std::bad_alloc from the allocation to the handler that turns them into an
// "out of memory" result. A build without exceptions (the self-extractor
// stubs) ends the program at a failed allocation instead; there the
// handlers compile to plain blocks that never run.
#pragma once

#include <cstdlib>
#include <new>

#if defined(__cpp_exceptions)
#define TESSERA_TRY try
#define TESSERA_CATCH(...) catch (__VA_ARGS__)
#define TESSERA_RETHROW throw
#define TESSERA_THROW_BAD_ALLOC() throw std::bad_alloc()
#else
#define TESSERA_TRY if (true)
#define TESSERA_CATCH(...) if (false)
#define TESSERA_RETHROW std::abort()
#define TESSERA_THROW_BAD_ALLOC() std::abort()
#endif
