// The code every logged line runs on the thread that logs it, kept together in the library.
#pragma once

// Each registry call a request makes is a round trip through wineserver, after which the
// line's code is no longer in the CPU's caches; spread over the library's pages, each page
// had to be fetched again (alternated runs of the log-cost bench: about 0.005 of a call).
// On Windows the linker orders ".text$..." sections by name into .text, so the marked
// functions sit side by side.
#if defined(_WIN32) && defined(__GNUC__)
#define KESTRANE_LOG_HOT __attribute__((section(".text$kestrane_log_hot")))
#else
#define KESTRANE_LOG_HOT
#endif
