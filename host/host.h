// The simulated host's core: class instances with the header the plug-in expects, the
// hostCallback that hands out services, the allocator and the reference ledger.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <set>

#include "host/allocator.h"
#include "host/ledger.h"
#include "host/plugin.h"
#include "kinetiscan/plugin_tables.h"

namespace kinetiscan::host {

// A service with nothing but positions 0-2, for interfaces the plug-in only holds.
class BareService : public Unknown {
 public:
  BareService(Ledger& ledger, std::string name);
  ReferenceCount references;
};

class Host {
 public:
  explicit Host(Plugin& plugin);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Allocates an instance of the class, fills its header and runs its create operation. The
  // host holds one reference; null if the class is unknown or create fails.
  InstanceHeader* createInstance(const Guid& classId, Result* createResult = nullptr);
  // Gives up the host's own reference; the instance is destroyed once nothing holds it.
  void releaseInstance(InstanceHeader* instance);
  std::int32_t instanceReferences(InstanceHeader* instance) const;
  std::size_t liveInstances() const { return instances_.size(); }
  // What the instance's own QueryInterface answers (and writes) from now on.
  void setInstanceQueryAnswer(InstanceHeader* instance, Result answer, void* object);

  // Services hostCallback position 0 hands out; each request takes a reference.
  void offerService(const Guid& id, Unknown* service);
  void refuseService(const Guid& id) { refused_.insert(key(id)); }
  void offerAllServices() { refused_.clear(); }
  int serviceRequests(const Guid& id) const;

  // The hostCallback the next instances' headers get: the host's own, none at all, or one whose
  // operation table is null, as a broken host might hand out.
  enum class CallbackGiven : std::uint8_t { whole, none, withoutTable };
  void giveCallback(CallbackGiven given) { callbackGiven_ = given; }

  Plugin& plugin;
  Ledger ledger;
  Allocator allocator;

 private:
  struct Instance;
  class Callback : public HostCallback {
   public:
    Callback(Ledger& ledger, Host& owner);
    Host& host;
    ReferenceCount references;
  };
  using GuidKey = std::array<unsigned char, 16>;
  static GuidKey key(const Guid& id);
  static Instance* recordOf(InstanceHeader* instance);
  static Result KINETISCAN_CALL queryService(HostCallback* self, const Guid* id, void** out);
  static Result KINETISCAN_CALL createForPlugin(HostCallback* self, const Guid* classId,
                                                const Guid* interfaceId, void** out);
  static Result KINETISCAN_CALL instanceQuery(InstanceHeader* self, const Guid* id, void** out);
  static std::int32_t KINETISCAN_CALL instanceAddRef(InstanceHeader* self);
  static std::int32_t KINETISCAN_CALL instanceRelease(InstanceHeader* self);
  void destroy(Instance* record);

  Callback callback_;
  HostCallback tableless_{};
  CallbackGiven callbackGiven_ = CallbackGiven::whole;
  std::map<GuidKey, Unknown*> services_;
  std::map<GuidKey, int> requests_;
  std::set<GuidKey> refused_;
  std::set<Instance*> instances_;
};

}  // namespace kinetiscan::host
