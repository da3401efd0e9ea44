// Class instances and the hostCallback of the simulated host.
#include "host/host.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include "host/host_object.h"

namespace kinetiscan::host {

// The host's bookkeeping for one instance. The header's word at offset 4, which the plug-in
// never uses, points back here.
struct Host::Instance {
  Instance(Host& owner, std::string name)
      : host(owner), references(owner.ledger, std::move(name)) {}
  Host& host;
  ReferenceCount references;
  DestroyOperation destroy = nullptr;
  InstanceHeader* header = nullptr;
  Result queryAnswer = kNoInterface;
  void* queryObject = nullptr;
};

BareService::BareService(Ledger& ledger, std::string name) : references(ledger, std::move(name)) {
  static constexpr UnknownOps kOps = {
      .queryInterface = noOtherInterface<BareService, Unknown>,
      .addRef = countedAddRef<BareService, Unknown>,
      .release = countedRelease<BareService, Unknown>,
  };
  ops = &kOps;
}

Host::Callback::Callback(Ledger& ledger, Host& owner)
    : host(owner), references(ledger, "hostCallback") {
  static constexpr HostCallbackOps kOps = {
      .queryInterface = queryService,
      .addRef = countedAddRef<Callback, HostCallback>,
      .release = countedRelease<Callback, HostCallback>,
      .createInstance = createForPlugin,
  };
  ops = &kOps;
}

Host::Host(Plugin& loaded) : plugin(loaded), allocator(ledger), callback_(ledger, *this) {}

Host::~Host() {
  // Whatever a test left alive is freed without running plug-in code.
  for (Instance* record : instances_) {
    std::free(record->header);
    delete record;
  }
}

Host::GuidKey Host::key(const Guid& id) {
  GuidKey bytes;
  std::memcpy(bytes.data(), &id, bytes.size());
  return bytes;
}

Host::Instance* Host::recordOf(InstanceHeader* instance) {
  return static_cast<Instance*>(instance->reserved4);
}

InstanceHeader* Host::createInstance(const Guid& classId, Result* createResult) {
  std::uint32_t size = 0;
  CreateOperation create = nullptr;
  DestroyOperation destroyOperation = nullptr;
  if (plugin.getClassForm(&classId, &size, &create, &destroyOperation) != kOk ||
      size < sizeof(InstanceHeader)) {
    return nullptr;
  }
  auto* header = static_cast<InstanceHeader*>(std::malloc(size));
  if (header == nullptr) return nullptr;
  std::memset(header, 0xCD, size);  // the plug-in must set its own fields
  auto* record = new Instance(*this, "instance");
  record->destroy = destroyOperation;
  record->header = header;
  static constexpr InstanceOps kOps = {
      .queryInterface = instanceQuery,
      .addRef = instanceAddRef,
      .release = instanceRelease,
  };
  header->ops = &kOps;
  header->reserved4 = record;
  header->hostCallback = callbackGiven_ == CallbackGiven::whole  ? &callback_
                         : callbackGiven_ == CallbackGiven::none ? nullptr
                                                                 : &tableless_;
  header->allocator = &allocator;
  header->reserved16[0] = header->reserved16[1] = 0;
  instances_.insert(record);
  const Result result = create(header);
  if (createResult != nullptr) *createResult = result;
  if (result != kOk) {
    destroy(record);
    return nullptr;
  }
  return header;
}

void Host::releaseInstance(InstanceHeader* instance) { instanceRelease(instance); }

std::int32_t Host::instanceReferences(InstanceHeader* instance) const {
  return recordOf(instance)->references.count();
}

void Host::setInstanceQueryAnswer(InstanceHeader* instance, Result answer, void* object) {
  recordOf(instance)->queryAnswer = answer;
  recordOf(instance)->queryObject = object;
}

void Host::destroy(Instance* record) {
  if (record->destroy != nullptr) record->destroy(record->header);
  instances_.erase(record);
  std::free(record->header);
  delete record;
}

void Host::offerService(const Guid& id, Unknown* service) { services_[key(id)] = service; }

int Host::serviceRequests(const Guid& id) const {
  auto found = requests_.find(key(id));
  return found == requests_.end() ? 0 : found->second;
}

Result KINETISCAN_CALL Host::queryService(HostCallback* self, const Guid* id, void** out) {
  Host& host = static_cast<Callback*>(self)->host;
  const GuidKey wanted = key(*id);
  ++host.requests_[wanted];
  auto found = host.services_.find(wanted);
  if (found == host.services_.end() || host.refused_.count(wanted) != 0) {
    *out = nullptr;
    return kNoInterface;
  }
  found->second->ops->addRef(found->second);
  *out = found->second;
  return kOk;
}

// Makes an instance of one of the plug-in's classes and hands out one interface on it, which
// then holds the instance alive on its own.
Result KINETISCAN_CALL Host::createForPlugin(HostCallback* self, const Guid* classId,
                                             const Guid* interfaceId, void** out) {
  Host& host = static_cast<Callback*>(self)->host;
  Result created = kOk;
  InstanceHeader* instance = host.createInstance(*classId, &created);
  if (instance == nullptr) return created != kOk ? created : kNoClass;
  const Result result = host.plugin.getInterface(instance, classId, interfaceId, out);
  host.releaseInstance(instance);
  return result;
}

Result KINETISCAN_CALL Host::instanceQuery(InstanceHeader* self, const Guid*, void** out) {
  Instance* record = recordOf(self);
  if (out != nullptr) *out = record->queryObject;
  return record->queryAnswer;
}

std::int32_t KINETISCAN_CALL Host::instanceAddRef(InstanceHeader* self) {
  return recordOf(self)->references.addRef();
}

std::int32_t KINETISCAN_CALL Host::instanceRelease(InstanceHeader* self) {
  Instance* record = recordOf(self);
  const std::int32_t count = record->references.release();
  if (count == 0) record->host.destroy(record);
  return count;
}

}  // namespace kinetiscan::host
