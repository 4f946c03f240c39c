# fw_atomic: what a target links to use 64-bit atomics. On a 32-bit board
# (MIPS32) they are calls into libatomic; where the compiler inlines them it
# adds nothing.
include(CheckCSourceCompiles)
check_c_source_compiles("
#include <stdint.h>
static int64_t v;
int main(void) { return (int)__atomic_fetch_add(&v, 1, __ATOMIC_SEQ_CST); }" FW_ATOMIC64_INLINE)
add_library(fw_atomic INTERFACE)
if(NOT FW_ATOMIC64_INLINE)
  target_link_libraries(fw_atomic INTERFACE atomic)
endif()
