// Two doubles side by side, for products the compiler keeps in one
// register each (GCC and Clang vector extension; loaded from memory
// aligned to 8 bytes at least): a complex number's real and imaginary
// parts, or the two columns of a pair of the Jacobian's factors.
#pragma once

using Pair = double __attribute__((vector_size(16), aligned(8)));
