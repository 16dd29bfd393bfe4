#include "recovery/HelperThread.h"

#include <utility>

namespace kestrow {

HelperThread::HelperThread() : m_thread([this] { Serve(); }) {}

HelperThread::~HelperThread() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_quit = true;
  }
  m_wake.notify_one();
  m_thread.join();
}

void HelperThread::ForEach(std::size_t count, const std::function<void(std::size_t)>& task) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_task = &task;
    m_count = count;
    m_next = 0;
    m_helperBusy = true;
    m_failure = nullptr;
  }
  m_wake.notify_one();
  TakeTasks();
  std::exception_ptr failure;
  {
    std::unique_lock<std::mutex> lock(m_lock);
    m_done.wait(lock, [this] { return !m_helperBusy; });
    m_task = nullptr;
    failure = std::exchange(m_failure, nullptr);
  }
  if (failure) std::rethrow_exception(failure);
}

void HelperThread::TakeTasks() {
  for (;;) {
    std::size_t index = 0;
    const std::function<void(std::size_t)>* task = nullptr;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      if (m_task == nullptr || m_next >= m_count) return;
      index = m_next++;
      task = m_task;
    }
    try {
      (*task)(index);
    } catch (...) {
      std::lock_guard<std::mutex> lock(m_lock);
      if (!m_failure) m_failure = std::current_exception();
    }
  }
}

void HelperThread::Serve() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_lock);
      m_wake.wait(lock, [this] { return m_quit || m_helperBusy; });
      if (m_quit) return;
    }
    TakeTasks();
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_helperBusy = false;
    }
    m_done.notify_one();
  }
}

}  // namespace kestrow
