// The host's allocator: counts what it hands out and can be told to refuse.
#pragma once

#include <cstdint>
#include <set>

#include "host/ledger.h"
#include "kinetiscan/host_services.h"

namespace kinetiscan::host {

class Allocator : public HostAllocator {
 public:
  explicit Allocator(Ledger& ledger);
  ~Allocator();

  // Refuse the next `count` requests.
  void refuseNext(int count) { refusals_ = count; }
  // Refuse the request with this 1-based number counted from now, once; 0 turns it off.
  void refuseRequest(int number) { refuseAt_ = number == 0 ? 0 : requests_ + number; }

  int requests() const { return requests_; }
  int frees() const { return frees_; }
  std::uint32_t lastSize() const { return lastSize_; }
  std::size_t outstanding() const { return blocks_.size(); }

  // Blocks handed to a caller that keeps them (DllGetClassInfo's table) go back through here.
  void freeBlock(void* block);

  ReferenceCount references;

 private:
  static void* KINETISCAN_CALL allocate(HostAllocator* self, std::uint32_t size);
  static Result KINETISCAN_CALL free(HostAllocator* self, void* block);

  Ledger& ledger_;
  std::set<void*> blocks_;
  int requests_ = 0;
  int frees_ = 0;
  int refusals_ = 0;
  int refuseAt_ = 0;
  std::uint32_t lastSize_ = 0;
};

}  // namespace kinetiscan::host
