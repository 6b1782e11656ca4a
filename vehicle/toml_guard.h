// The text of a vehicle file (or of a set value) made safe for the TOML parser: toml++ 3.3 misreads
// some characters beyond ASCII (U+00A1-0499, U+2C5E-3057, U+FB26-FEFE) as white space, with an
// undefined result. None of them reaches it: in comments they become '?', in quoted texts their
// \u escape; outside quotes they are a mistake. Nor does a text nested deeper than it can follow.
#pragma once

#include <stdint.h>

#include <string>

// Tables, dotted keys, lists and inline tables nest at most this deep, counted together: [a.b]
// is two levels, c.d = [{ e = 1 }] below it five more (c, d, [, { and e). A car needs six
// ([ecu.1] answers = [{ request = ... }]). The parser follows table headers and dotted keys by
// recursion: a file nested a hundred thousand deep overflowed its stack.
constexpr uint32_t EMU_TOML_MAX_DEPTH = 64;

// Rewrites `text` in place; false, with `error` set to "LINE:COLUMN: what", on a mistake.
bool emu_GuardToml(std::string* text, std::string* error);
