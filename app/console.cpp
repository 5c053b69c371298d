// certexport-console (Windows): the Start-menu entry's program, a console ready for certexport.
#include "platform/platform.h"

int main() {
    return platform::openConsoleInDocuments();
}
