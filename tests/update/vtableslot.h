#pragma once

#include <cstddef>
#include <cstring>

// True where virtual slots can be read from member pointers (the x86-64 Itanium C++ ABI).
#if defined(__GNUC__) && defined(__x86_64__)
#define ORVIK_TEST_VTABLE_SLOTS 1

// A pointer to a virtual member holds 1 + the byte offset of its slot; -1 for a non-virtual one.
// This ABI gives the destructor two slots (complete and deleting) where the host's table counts one.
template <typename Member>
int vtableSlot(Member member)
{
    static_assert(sizeof(Member) == 2 * sizeof(std::ptrdiff_t), "a member pointer is two words");
    std::ptrdiff_t words[2];
    std::memcpy(words, &member, sizeof words);
    return words[0] & 1 ? static_cast<int>((words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void *))) : -1;
}
#endif
