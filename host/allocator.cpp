// The simulated host's allocator.
#include "host/allocator.h"

#include <cstdlib>
#include <cstring>

#include "host/host_object.h"

namespace kinetiscan::host {
namespace {

// Fresh blocks hold a pattern, not zeros, so nothing can rely on memory it did not write.
constexpr unsigned char kFreshByte = 0xCD;

}  // namespace

Allocator::Allocator(Ledger& ledger) : references(ledger, "HostAllocator"), ledger_(ledger) {
  static constexpr HostAllocatorOps kOps = {
      .queryInterface = noOtherInterface<Allocator, HostAllocator>,
      .addRef = countedAddRef<Allocator, HostAllocator>,
      .release = countedRelease<Allocator, HostAllocator>,
      .allocate = allocate,
      .free = free,
  };
  ops = &kOps;
}

Allocator::~Allocator() {
  for (void* block : blocks_) std::free(block);
}

void* KINETISCAN_CALL Allocator::allocate(HostAllocator* self, std::uint32_t size) {
  auto* allocator = static_cast<Allocator*>(self);
  ++allocator->requests_;
  allocator->lastSize_ = size;
  if (allocator->refusals_ > 0) {
    --allocator->refusals_;
    return nullptr;
  }
  if (allocator->requests_ == allocator->refuseAt_) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  std::memset(block, kFreshByte, size);
  allocator->blocks_.insert(block);
  return block;
}

Result KINETISCAN_CALL Allocator::free(HostAllocator* self, void* block) {
  static_cast<Allocator*>(self)->freeBlock(block);
  return kOk;
}

void Allocator::freeBlock(void* block) {
  ++frees_;
  if (blocks_.erase(block) == 0) {
    ledger_.recordFault("HostAllocator: free of a block it did not hand out");
    return;
  }
  std::free(block);
}

}  // namespace kinetiscan::host
