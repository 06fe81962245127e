#pragma once

// One empty body behind every hook that has nothing to do here; the exported hook names are other
// names for it. How they are made differs by system (emptyhook_unix.cpp, emptyhook_win.cpp): on ELF
// they are aliases of this function, kept out of the dynamic table itself; the Windows build maps the
// names onto it in its module-definition file.
extern "C" void orvikNetworkEmptyHook();
