// A recovery job's status as a face polls it while the worker runs: the
// status text (the name of the file in hand) and the outcome, behind one lock.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "recovery/RecoveryJob.h"

namespace kestrow {

class JobStatus {
 public:
  std::string Text() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_text;
  }
  void SetText(std::string text) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_text = std::move(text);
  }
  RecoveryOutcome Outcome() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_outcome;
  }
  RecoveryProgress Progress() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return RecoveryProgress{m_outcome.state, m_outcome.fileCount, m_outcome.currentFile, m_outcome.bytesDone,
                            m_outcome.bytesTotal};
  }
  // Changes the outcome, and the text with it when asked, in one step.
  void Update(const std::function<void(RecoveryOutcome&)>& change) {
    std::lock_guard<std::mutex> lock(m_lock);
    change(m_outcome);
  }
  void Update(const std::function<void(RecoveryOutcome&, std::string&)>& change) {
    std::lock_guard<std::mutex> lock(m_lock);
    change(m_outcome, m_text);
  }

 private:
  mutable std::mutex m_lock;
  std::string m_text;
  RecoveryOutcome m_outcome;
};

}  // namespace kestrow
