#pragma once

// With LUMORA_LOG=1, the steps of the start, on standard error, in milliseconds since the
// process began: "lumora-start <ms> <step> [<a>]". Used by bench scripts and by whoever asks
// where the time before the first picture goes. Unset, each call is one test of a cached flag.

bool StartTraceOn();
void TraceStartStep(const char* step, long a = -1);
