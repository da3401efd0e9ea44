// The simulated host's reference ledger: every interface the host hands out is entered with the
// count it starts from, and a scenario ends by checking each one is back there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kinetiscan::host {

class Ledger;

// A host object's reference count, known to the ledger for as long as the object lives.
class ReferenceCount {
 public:
  ReferenceCount(Ledger& ledger, std::string name, std::int32_t start = 1);
  ~ReferenceCount();
  ReferenceCount(const ReferenceCount&) = delete;
  ReferenceCount& operator=(const ReferenceCount&) = delete;

  std::int32_t addRef();
  // A release below zero is recorded as a fault and does not go further down.
  std::int32_t release();
  std::int32_t count() const { return count_; }
  std::int32_t start() const { return start_; }
  const std::string& name() const { return name_; }

 private:
  Ledger& ledger_;
  std::string name_;
  std::int32_t start_;
  std::int32_t count_;
};

class Ledger {
 public:
  // Lines naming every interface whose count differs from where it started, and every fault
  // (a release of an interface already at zero). Empty when the books balance.
  std::vector<std::string> imbalances() const;
  void recordFault(std::string fault) { faults_.push_back(std::move(fault)); }
  std::size_t liveObjects() const { return live_.size(); }
  // References held beyond their starting counts, over every live interface.
  std::int64_t referencesHeld() const;

 private:
  friend class ReferenceCount;
  std::vector<const ReferenceCount*> live_;
  std::vector<std::string> faults_;
};

}  // namespace kinetiscan::host
