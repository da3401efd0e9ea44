// Shared set-up of the scenario tests: the plug-in loaded once, a fresh simulated host per test,
// and the checks every scenario ends with.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "host/host.h"

namespace kinetiscan::scenario {

class Scenario : public ::testing::Test {
 protected:
  static host::Plugin& plugin();

  void SetUp() override { host_ = std::make_unique<host::Host>(plugin()); }

  // Every interface back at its starting count, no instance left, the library free to unload.
  void TearDown() override {
    EXPECT_TRUE(host_->ledger.imbalances().empty())
        << ::testing::PrintToString(host_->ledger.imbalances());
    EXPECT_EQ(host_->liveInstances(), 0u);
    EXPECT_EQ(plugin().canUnloadNow(), kOk);
    host_.reset();
  }

  // An interface on a new instance of the class; the host's own reference is already given up,
  // so the interface alone keeps the instance.
  template <class Interface>
  Interface* makeInterface(const Guid& classId, const Guid& interfaceId) {
    InstanceHeader* instance = host_->createInstance(classId);
    if (instance == nullptr) return nullptr;
    void* out = nullptr;
    const Result result = plugin().getInterface(instance, &classId, &interfaceId, &out);
    host_->releaseInstance(instance);
    return result == kOk ? static_cast<Interface*>(out) : nullptr;
  }

  std::unique_ptr<host::Host> host_;
};

}  // namespace kinetiscan::scenario
