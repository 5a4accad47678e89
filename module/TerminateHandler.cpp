// GCC's default terminate handler prints the demangled type of the
// exception, which links the runtime's demangler and its whole printf
// into the module: a third of its size, for text no one in Explorer reads.
// Nothing thrown leaves the module's entry points, so terminate is never
// expected; when it happens anyway, it ends the process as it would.
#if defined(__GNUC__) && !defined(__clang__)
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
}  // namespace __gnu_cxx
#endif
