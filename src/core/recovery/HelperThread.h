// One more thread beside the one that owns it, for work that splits into
// independent pieces: ForEach runs a task over a range of indices on both.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrow {

class HelperThread {
 public:
  // Throws std::system_error when the thread cannot start.
  HelperThread();
  ~HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  // Runs task(i) for every i in [0, count), each once, on the calling
  // thread and the helper, and returns when all have run. The first
  // exception a task throws is rethrown here, after the others have run.
  void ForEach(std::size_t count, const std::function<void(std::size_t)>& task);

 private:
  void Serve();
  // Runs tasks until none is left; under no lock.
  void TakeTasks();

  std::mutex m_lock;
  std::condition_variable m_wake;  // work for the helper, or quit
  std::condition_variable m_done;  // the helper has finished its share
  const std::function<void(std::size_t)>* m_task = nullptr;
  std::size_t m_count = 0;
  std::size_t m_next = 0;       // the next index nobody has taken
  bool m_helperBusy = false;
  bool m_quit = false;
  std::exception_ptr m_failure;  // the first a task threw
  std::thread m_thread;          // last: starts once the rest is ready
};

}  // namespace kestrow
