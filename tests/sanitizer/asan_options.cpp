// Defaults for the address-sanitizer builds.
//
// Threads are stopped by cancellation, which unwinds their stacks without clearing the
// sanitizer's stack markings. Two places of the runtime then trip over those stale markings:
//  - its alternate signal stack, torn down at thread exit: it is turned off below (our code
//    installs no signal handlers, so nothing is lost);
//  - its no-return hook, run when an unwinding thread leaves a cleanup handler: it asks for the
//    alternate signal stack through the checked sigaltstack wrapper, with the answer buffer in
//    the dead part of the stack, and the wrapper reports that buffer as a bad write (then fails
//    an internal check while describing it). The definition below answers that question with
//    the system call itself. Nothing in the program calls sigaltstack otherwise, so no check of
//    our own code is lost.
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" const char* __asan_default_options() { return "use_sigaltstack=0"; }

extern "C" int sigaltstack(const stack_t* stack, stack_t* oldStack) noexcept {
  return static_cast<int>(syscall(SYS_sigaltstack, stack, oldStack));
}
