#include "common/parallel.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace {

struct Slice {
  const SliceWork *work = nullptr;
  std::size_t begin = 0;
  std::size_t end = 0;
  platform::Thread thread; // its helper, if one started
};

// The thread routine of a helper: the platform hands it its slice.
std::uint32_t run_slice(void *raw) {
  const Slice &slice = *static_cast<const Slice *>(raw);
  (*slice.work)(slice.begin, slice.end);
  return 0;
}

} // namespace

void for_each_slice(std::size_t count, std::size_t min_per_thread, const SliceWork &work,
                    const platform::ThreadStarter &start_thread) {
  constexpr std::size_t kMostThreads = 8;
  std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  std::size_t threads =
      std::min({cores, kMostThreads, count / std::max<std::size_t>(min_per_thread, 1) + 1});
  if (threads <= 1) {
    work(0, count);
    return;
  }
  std::size_t per_slice = (count + threads - 1) / threads;
  std::vector<Slice> slices(threads);
  for (std::size_t t = 0; t < threads; ++t) {
    Slice &slice = slices[t];
    slice.work = &work;
    slice.begin = std::min(count, t * per_slice);
    slice.end = std::min(count, (t + 1) * per_slice);
    // A helper that does not start leaves its slice to the loop below.
    if (t > 0)
      (void)start_thread(run_slice, &slice, &slice.thread);
  }
  for (Slice &slice : slices) {
    if (!slice.thread.is_running())
      run_slice(&slice);
  }
  for (Slice &slice : slices)
    slice.thread.join();
}
