#include "module/emptyhook.h"

extern "C" void orvikNetworkEmptyHook()
{}
