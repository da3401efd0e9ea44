// Registration of the cast member type, through the registrar interface.
#include <cstring>
#include <string>

#include "host/registry.h"
#include "kinetiscan/plugin_tables.h"
#include "scenario_fixture.h"

namespace kinetiscan::scenario {
namespace {

class Registration : public Scenario {
 protected:
  void SetUp() override {
    Scenario::SetUp();
    registry_ = std::make_unique<host::Registry>(host_->ledger);
    registrar_ = makeInterface<RegistrarInterface>(kRegistrarClassId, kRegistrarInterfaceId);
    ASSERT_NE(registrar_, nullptr);
  }
  void TearDown() override {
    registrar_->ops->release(registrar_);
    registry_.reset();
    Scenario::TearDown();
  }
  Result registerType() {
    return registrar_->ops->registerType(registrar_, registry_.get(), &context_);
  }

  int context_ = 0;
  std::unique_ptr<host::Registry> registry_;
  RegistrarInterface* registrar_ = nullptr;
};

std::string text(const host::RegistryWrite& write) {
  return std::string(reinterpret_cast<const char*>(write.value.data()));
}
std::int32_t integer(const host::RegistryWrite& write) {
  std::int32_t value = 0;
  std::memcpy(&value, write.value.data(), sizeof value);
  return value;
}

TEST_F(Registration, WritesSixValuesInOrder) {
  ASSERT_EQ(registerType(), kOk);
  EXPECT_EQ(registry_->dictionaryRequests, 1);
  EXPECT_EQ(registry_->lastContext, &context_);
  EXPECT_EQ(registry_->lastClassId, kCastMemberClassId);
  EXPECT_EQ(registry_->lastInterfaceId, kCastMemberInterfaceId);
  const auto& writes = registry_->writes;
  ASSERT_EQ(writes.size(), 6u);
  const char* keys[] = {"symbolString", "displayNameString", "displayCategoryString",
                        "actorType",    "assetCaps",         "safeForShockwave"};
  const std::int32_t kinds[] = {9, 9, 9, 3, 8, 6};
  const std::uint32_t lengths[] = {0, 0, 0, 0, 4, 1};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(writes[i].key, keys[i]);
    EXPECT_EQ(writes[i].kind, kinds[i]) << keys[i];
    EXPECT_EQ(writes[i].length, lengths[i]) << keys[i];
  }
  EXPECT_EQ(text(writes[0]), "Kinetiscan");
  EXPECT_EQ(text(writes[1]), "Kinetiscan");
  EXPECT_EQ(text(writes[2]), "Tamsworth Xtras");
  EXPECT_EQ(integer(writes[3]), 1);
  EXPECT_EQ(integer(writes[4]), 91);
  ASSERT_EQ(writes[5].value.size(), 1u);
  EXPECT_EQ(writes[5].value[0], 1);
}

TEST_F(Registration, AFailingWriteEndsRegistrationWithItsCode) {
  registry_->failingWrite = 4;
  registry_->writeFailure = code(0x80040777u);
  EXPECT_EQ(registerType(), code(0x80040777u));
  ASSERT_EQ(registry_->writes.size(), 4u) << "assetCaps and safeForShockwave are not written";
  EXPECT_EQ(registry_->writes.back().key, "actorType");
}

TEST_F(Registration, ARefusedDictionaryWritesNothing) {
  registry_->dictionaryAnswer = code(0x80040123u);
  EXPECT_EQ(registerType(), code(0x80040123u));
  EXPECT_TRUE(registry_->writes.empty());
}

TEST_F(Registration, AMissingDictionaryIsNotWrittenThrough) {
  registry_->giveNullDictionary = true;
  EXPECT_EQ(registerType(), kNoInterface);
  EXPECT_TRUE(registry_->writes.empty());
  EXPECT_EQ(registrar_->ops->registerType(registrar_, nullptr, nullptr), kNoInterface);
}

}  // namespace
}  // namespace kinetiscan::scenario
