// Windows only. GCC's stack protector checks frames against
// __stack_chk_guard and calls __stack_chk_fail on a mismatch. MinGW's libssp
// would provide both, but seeds the guard through the CryptoAPI, which loads
// a dozen DLLs, user32 among them, at every start; this seeds it from the C
// runtime's rand_s (RtlGenRandom) instead.
#define _CRT_RAND_S
#include <stdint.h>
#include <stdlib.h>

extern "C" {

// A terminator canary until seeded: a string copy cannot forge it.
uintptr_t __stack_chk_guard = 0xff0a0000;

// The stack is not to be trusted: end the process at once, as a failed stack
// cookie does on Windows (fast fail), with nothing written and no handler.
[[noreturn]] void __stack_chk_fail(void) {
  // FAST_FAIL_STACK_COOKIE_CHECK_FAILURE
  __asm__ volatile("int $0x29" : : "c"(2));
  __builtin_trap();
}
}

namespace {

// Runs before main; unprotected itself, as it changes the guard.
__attribute__((constructor, no_stack_protector)) void seed_guard() {
  unsigned int high, low;
  if (rand_s(&high) == 0 && rand_s(&low) == 0)
    __stack_chk_guard = uintptr_t{high} << 32 | low;
}

} // namespace
