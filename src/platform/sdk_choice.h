// Whether the seam takes the platform's own SDK (a Mac build) or the platform
// model (everywhere else, and on a Mac when the tests run over the model).
#pragma once

#if defined(__APPLE__) && !defined(QUORBEL_MODEL)
#define QUORBEL_APPLE_SDK 1
#endif
