// volatile_key.exe <key under HKEY_LOCAL_MACHINE>: creates the key as a
// volatile one. Windows refuses to create a lasting key beneath a volatile
// key, which lets the tests make the setup program's key creation fail.
// Volatile keys live only as long as the registry server keeps running.

#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2)
        return 2;
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, argv[1], 0, nullptr, REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS)
        return 1;
    RegCloseKey(key);
    return 0;
}
