#pragma once

// What KestraneService.dll exports besides QVCreateService.
#ifdef _WIN32
#define KESTRANE_API __declspec(dllexport)
#else
#define KESTRANE_API __attribute__((visibility("default")))
#endif
