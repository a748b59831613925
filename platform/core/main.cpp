// The Linux entry point: hands over to the game's WinMain as the system would.
#include "platform/winapi.h"

int main() {
    static char commandLine[] = "";
    // The instance handle only identifies the program; any non-null value does.
    static HINSTANCE__ instance;
    return WinMain(&instance, nullptr, commandLine, SW_SHOWNORMAL);
}
