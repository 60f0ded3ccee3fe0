// A print monitor library that does nothing, for the port setup tests: with
// it in the Wine prefix's system folder, the spooler can load the library the
// setup program names and accept the monitor, so the registration it asked
// for becomes visible in the registry.

#include <windows.h>
#include <winsplp.h>

extern "C" __declspec(dllexport) LPMONITOR2 WINAPI
    InitializePrintMonitor2(PMONITORINIT, PHANDLE monitor) {
    static MONITOR2 functions{};
    functions.cbSize = sizeof functions;
    *monitor = reinterpret_cast<HANDLE>(&functions);
    return &functions;
}
