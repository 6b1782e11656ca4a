// Support library anchor; the helpers are header-only.
#include "tests/support/wait_for.h"
