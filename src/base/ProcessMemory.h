#pragma once
// How the service keeps its resident size near what it holds. The state file of a day's history
// is megabytes of text read at the start and written every few minutes; glibc would keep those
// transient blocks in its arenas after they are freed (its mmap threshold rises with every large
// block freed), and a service that has run a day would hold them for good.

namespace duz {

// Once, at the start, before any thread: blocks of 128 KiB and more are mapped on their own, so
// that freeing one gives it back at once.
void SetUpProcessMemory();
// Hands the free pages of every arena back to the system; after a burst of transient blocks.
void ReleaseFreeMemory();

}  // namespace duz
