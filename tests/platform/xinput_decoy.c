/* A library named as XInput's, put beside the Win32 backend's test program:
 * the backend must never load it in place of the system's. */
#include <windows.h>

__declspec(dllexport) DWORD WINAPI XInputGetState(DWORD slot, void* state) {
    (void)slot;
    (void)state;
    return ERROR_DEVICE_NOT_CONNECTED;
}
