// Marks a function as part of the shared library's exported interface. Everything else is
// built with hidden visibility, so `nm -D` on the library lists only these names.
#pragma once

#if defined(_WIN32)
#define TARVO_API __declspec(dllexport)
#else
#define TARVO_API __attribute__((visibility("default")))
#endif
