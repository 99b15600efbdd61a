// A stand-in for the game client: it only waits until it is stopped.
#include <windows.h>

int main() {
    Sleep(120000);  // ends by itself should a test fail to stop it
    return 0;
}
