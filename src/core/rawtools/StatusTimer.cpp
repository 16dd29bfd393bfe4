#include "rawtools/StatusTimer.h"

#include <utility>

namespace kestrow {

StatusTimer::StatusTimer(std::chrono::milliseconds interval, std::function<void()> tick)
    : m_interval(interval), m_tick(std::move(tick)), m_thread([this] { Run(); }) {}

StatusTimer::~StatusTimer() { Stop(); }

void StatusTimer::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stop = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void StatusTimer::Run() {
  std::unique_lock<std::mutex> lock(m_lock);
  while (!m_stop) {
    lock.unlock();
    m_tick();
    lock.lock();
    m_wake.wait_for(lock, m_interval, [this] { return m_stop; });
  }
}

}  // namespace kestrow
