#pragma once

#include <cstdint>

// The process-wide load serial counter: every StartLoad takes the next number; after 100000 the
// counter starts again at 0. Exposed for tests that check the wrap.
int32_t PeekLoadSerialCounter();
void SetLoadSerialCounter(int32_t value);
