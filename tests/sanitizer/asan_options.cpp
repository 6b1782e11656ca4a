// Defaults for the address-sanitizer builds. Threads are stopped by cancellation, which unwinds
// their stacks without clearing the sanitizer's stack markings; its alternate signal stack,
// torn down at thread exit, then trips over them. Without the alternate stack nothing is lost:
// our code installs no signal handlers.
extern "C" const char* __asan_default_options() { return "use_sigaltstack=0"; }
