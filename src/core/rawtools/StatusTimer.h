// A thread that calls one function at once and then every interval until it
// is stopped, so that a display's clocks move while the job's own thread
// waits in a read that hangs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrow {

class StatusTimer {
 public:
  // Starts the thread; `tick` runs on it, never twice at once.
  StatusTimer(std::chrono::milliseconds interval, std::function<void()> tick);
  ~StatusTimer();
  StatusTimer(const StatusTimer&) = delete;
  StatusTimer& operator=(const StatusTimer&) = delete;

  // Ends the thread after the tick in hand; `tick` is not called again.
  // Harmless when called twice.
  void Stop();

 private:
  void Run();

  std::chrono::milliseconds m_interval;
  std::function<void()> m_tick;
  std::mutex m_lock;
  std::condition_variable m_wake;
  bool m_stop = false;
  std::thread m_thread;
};

}  // namespace kestrow
