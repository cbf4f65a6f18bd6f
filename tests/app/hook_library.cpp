// Stand-in for the optional foreground helper: remembers the handle it got.
#include <cstdint>

namespace {
std::intptr_t g_lastHandle = 0;
int g_calls = 0;
}

extern "C" __attribute__((visibility("default"))) long QVSetForeGroundWindow(void* handle)
{
    g_lastHandle = reinterpret_cast<std::intptr_t>(handle);
    ++g_calls;
    return 1;
}

extern "C" __attribute__((visibility("default"))) std::intptr_t hookLastHandle()
{
    return g_lastHandle;
}

extern "C" __attribute__((visibility("default"))) int hookCalls()
{
    return g_calls;
}
