#pragma once

// Symbol export of libTesseraControls.so: only the classes marked with TES_CONTROLS_API
// are visible outside the library.
#if defined(TES_CONTROLS_BUILD)
#define TES_CONTROLS_API __attribute__((visibility("default")))
#else
#define TES_CONTROLS_API
#endif
