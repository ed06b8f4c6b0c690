// Work over a large list spread over a few threads: the status queries of
// the reconciliation, the copies and the deletions of the staging folder.
#pragma once

#include <cstddef>
#include <functional>

#include "platform/platform.h"

// Does the work for items [BEGIN, END) of the list.
using SliceWork = std::function<void(std::size_t begin, std::size_t end)>;

// Cuts [0, COUNT) into consecutive slices, one thread more for every
// MIN_PER_THREAD items (at most the number of cores, and at most 8), runs the first
// slice on the calling thread and each other one on a helper started with
// START_THREAD, and returns once every slice is done. A helper that cannot
// be started (a container's memory or process limit) leaves its slice to the
// caller, so the work is always complete. WORK must not print: the caller
// reports afterwards, in list order.
void for_each_slice(std::size_t count, std::size_t min_per_thread, const SliceWork &work,
                    const platform::ThreadStarter &start_thread = platform::start_thread);
