// Which first instructions of an entry point a hook may move elsewhere: a decoder of the
// few instruction forms that entry points begin with and that run unchanged at another
// address.
#pragma once

#include <cstddef>

// The length of the whole instructions at the start of code that a jump of jumpSize bytes
// would cover, when each of them can run unchanged at another address: no relative
// branch or call, nothing addressed relative to the instruction pointer, no prefix but a
// REX one. 0 when that cannot be said.
size_t MovableLength(const unsigned char* code, size_t size, bool x64, size_t jumpSize = 5);
