// Program entry of padix and padix-headless; they differ only in the window they link.
#include "host/power_on.h"

int main(int argc, char** argv) { return emu_Main(argc, argv); }
