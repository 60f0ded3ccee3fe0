// MiravoPortSetup registers the print monitor "Miravo Local Port" with the
// Windows print spooler and gives it its one port, "Miravo:". The printer
// that users print to sends its jobs to that port; the monitor library
// (MiravoLocalMon.dll, installed with the printer) hands them to Miravo.
//
// The program takes no arguments, shows nothing and always exits with 0.
// It asks for no elevation: run it with administrative rights, or both
// registrations fail without a word.

#include <windows.h>
#include <winspool.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The spooler's structure takes non-const strings, hence the arrays.
    wchar_t monitorName[] = L"Miravo Local Port";
    wchar_t environment[] = L"Windows NT x86";
    wchar_t library[] = L"MiravoLocalMon.dll";
    MONITOR_INFO_2W monitor{monitorName, environment, library};

    // A monitor that is already installed, or missing rights, must not keep
    // the port entry below from being written, so the result does not matter.
    AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&monitor));

    HKEY ports = nullptr;
    if (RegCreateKeyW(HKEY_LOCAL_MACHINE,
                      L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\"
                      L"Miravo Local Port\\Ports",
                      &ports) != ERROR_SUCCESS)
        return 0;

    // The port is the value's name; its data is a single zero byte.
    const BYTE empty = 0;
    RegSetValueExW(ports, L"Miravo:", 0, REG_SZ, &empty, 1);
    RegCloseKey(ports);
    return 0;
}
