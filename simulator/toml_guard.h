// The text of a vehicle file (or of a set value) made safe for the TOML parser: toml++ 3.3 misreads
// some characters beyond ASCII (U+00A1-0499, U+2C5E-3057, U+FB26-FEFE) as white space, with an
// undefined result. None of them reaches it: in comments they become '?', in quoted texts their
// \u escape; outside quotes they are a mistake.
#pragma once

#include <string>

// Rewrites `text` in place; false, with `error` set to "LINE:COLUMN: what", on a mistake.
bool emu_GuardToml(std::string* text, std::string* error);
