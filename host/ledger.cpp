// Reference ledger of the simulated host.
#include "host/ledger.h"

#include <algorithm>

namespace kinetiscan::host {

ReferenceCount::ReferenceCount(Ledger& ledger, std::string name, std::int32_t start)
    : ledger_(ledger), name_(std::move(name)), start_(start), count_(start) {
  ledger_.live_.push_back(this);
}

ReferenceCount::~ReferenceCount() {
  auto& live = ledger_.live_;
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

std::int32_t ReferenceCount::addRef() { return ++count_; }

std::int32_t ReferenceCount::release() {
  if (count_ <= 0) {
    ledger_.recordFault(name_ + ": released at count " + std::to_string(count_));
    return count_;
  }
  return --count_;
}

std::int64_t Ledger::referencesHeld() const {
  std::int64_t held = 0;
  for (const ReferenceCount* count : live_) held += count->count() - count->start();
  return held;
}

std::vector<std::string> Ledger::imbalances() const {
  std::vector<std::string> lines = faults_;
  for (const ReferenceCount* count : live_) {
    if (count->count() != count->start()) {
      lines.push_back(count->name() + ": count " + std::to_string(count->count()) +
                      ", started at " + std::to_string(count->start()));
    }
  }
  return lines;
}

}  // namespace kinetiscan::host
