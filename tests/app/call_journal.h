#pragma once

// One ordered list of the calls that the start-up makes across every collaborator and port, so a
// test can check their exact order. Main thread only.

#include <algorithm>
#include <string>
#include <vector>

namespace tovalo {

class CallJournal {
  public:
    void record(std::string call) { calls_.push_back(std::move(call)); }
    const std::vector<std::string>& calls() const { return calls_; }
    void clear() { calls_.clear(); }
    long count(const std::string& call) const { return std::ranges::count(calls_, call); }

  private:
    std::vector<std::string> calls_;
};

}  // namespace tovalo
