// Placeholder until the GTK window lands.
#include "window/headless_window.cpp"
