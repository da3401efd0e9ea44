// The stand-in's C runtime face: msvcrt's out-of-memory handler, which takes the size, and the
// C++ handler of a program that installed only that one.
#include <gtest/gtest.h>

#include <new>

#include "platform/win32api.h"

namespace {

using RuntimeNewHandler = int (*)(std::size_t);

int cxxCalls = 0;
void cxxHandler() { ++cxxCalls; }
int runtimeHandler(std::size_t) { return 1; }

template <class Function>
Function lookUp(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), name)));
}

TEST(StandinRuntime, TheRuntimesHandlerComesFirstThenTheCxxOne) {
  auto query = lookUp<RuntimeNewHandler (*)()>("?_query_new_handler@@YAP6AHI@ZXZ");
  auto set =
      lookUp<RuntimeNewHandler (*)(RuntimeNewHandler)>("?_set_new_handler@@YAP6AHI@ZP6AHI@Z@Z");
  ASSERT_NE(query, nullptr);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(query(), nullptr) << "none installed";

  std::set_new_handler(cxxHandler);
  RuntimeNewHandler viaCxx = query();
  ASSERT_NE(viaCxx, nullptr);
  cxxCalls = 0;
  EXPECT_EQ(viaCxx(12), 1) << "retry";
  EXPECT_EQ(cxxCalls, 1);

  EXPECT_EQ(set(runtimeHandler), nullptr);
  EXPECT_EQ(query(), runtimeHandler);
  EXPECT_EQ(set(nullptr), runtimeHandler);
  std::set_new_handler(nullptr);
  EXPECT_EQ(query(), nullptr);
}

}  // namespace
