// Sprite actors of the plug-in linked into the test, reached through the class form and their
// table as a host reaches them, over a simulated host with values, movies, a sprite callback and
// draw surfaces. The analysis state and the PanelCache start at their load-time state.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "analysis/analysis_state.h"
#include "host/host.h"
#include "host/linked_plugin.h"
#include "host/movies.h"
#include "host/sprite_callback.h"
#include "host/surface.h"
#include "host/values.h"
#include "objects/interface_object.h"
#include "sprite/panel_cache.h"

namespace kinetiscan::sprite_test {

constexpr std::int32_t kSpriteNumber = 7;

class SpriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetAnalysisStateForTest();
    resetPanelCacheForTest();
    resetInterfaceObjectStateForTest();
    plugin_ = host::linkedPlugin();
    host_ = std::make_unique<host::Host>(*plugin_);
    values_ = std::make_unique<host::Values>(host_->ledger);
    movies_ = std::make_unique<host::Movies>(host_->ledger, *values_);
    callback_ = std::make_unique<host::SpriteCallback>(host_->ledger, kSpriteNumber);
    values_->offerTo(*host_);
    movies_->offerTo(*host_);
    spare_ = std::make_unique<host::BareService>(host_->ledger, "spareService1");
    host_->offerService(kSpareService1Id, spare_.get());
  }

  void TearDown() override {
    for (SpriteActorInterface* actor : actors_) actor->ops->release(actor);
    EXPECT_TRUE(host_->ledger.imbalances().empty())
        << ::testing::PrintToString(host_->ledger.imbalances());
    EXPECT_EQ(host_->liveInstances(), 0u);
    EXPECT_EQ(values_->liveValues(), 0u) << "every value made was released";
    EXPECT_EQ(plugin_->canUnloadNow(), kOk);
    resetPanelCacheForTest();
    resetAnalysisStateForTest();
    surfaces_.clear();
    callback_.reset();
    movies_.reset();
    values_.reset();
    spare_.reset();
    host_.reset();
  }

  // A sprite actor with its callback set, released at the end of the test.
  SpriteActorInterface* makeActor() {
    InstanceHeader* instance = host_->createInstance(kSpriteActorClassId);
    if (instance == nullptr) return nullptr;
    void* out = nullptr;
    const Result result =
        plugin_->getInterface(instance, &kSpriteActorClassId, &kSpriteActorInterfaceId, &out);
    host_->releaseInstance(instance);
    if (result != kOk) return nullptr;
    auto* actor = static_cast<SpriteActorInterface*>(out);
    actor->ops->setSpriteCallback(actor, callback_.get());
    actors_.push_back(actor);
    return actor;
  }

  host::Surface& makeSurface(int width, int height, std::int32_t kind = 1) {
    surfaces_.push_back(std::make_unique<host::Surface>(host_->ledger, width, height, kind));
    return *surfaces_.back();
  }

  void setProperty(SpriteActorInterface* actor, const char* name, std::int32_t value) {
    HostValue v = values_->integer(value);
    ASSERT_EQ(actor->ops->setProperty(actor, values_->symbol(name), &v), kOk) << name;
    values_->release(v);
  }

  std::unique_ptr<host::Plugin> plugin_;
  std::unique_ptr<host::Host> host_;
  std::unique_ptr<host::Values> values_;
  std::unique_ptr<host::Movies> movies_;
  std::unique_ptr<host::SpriteCallback> callback_;
  std::vector<std::unique_ptr<host::Surface>> surfaces_;
  std::vector<SpriteActorInterface*> actors_;

  std::unique_ptr<host::BareService> spare_;
};

}  // namespace kinetiscan::sprite_test
