#include "platform/posix/kernel_objects.h"

#include <unordered_map>

namespace comm::posix {
namespace {

struct Table {
  std::mutex lock;
  std::unordered_map<Handle, std::shared_ptr<KernelObject>> objects;
  Handle next = 0x1000;
};

Table& TheTable() {
  static Table table;
  return table;
}

thread_local std::uint32_t tLastError = 0;

}  // namespace

std::mutex& WaitLock() {
  static std::mutex lock;
  return lock;
}

std::condition_variable& WaitCondition() {
  static std::condition_variable condition;
  return condition;
}

void Event::Set() {
  {
    std::lock_guard guard(WaitLock());
    signalled_ = true;
  }
  WaitCondition().notify_all();
}

void Event::Reset() {
  std::lock_guard guard(WaitLock());
  signalled_ = false;
}

Handle Register(std::shared_ptr<KernelObject> object) {
  Table& table = TheTable();
  std::lock_guard guard(table.lock);
  Handle h = table.next;
  table.next += 4;
  table.objects.emplace(h, std::move(object));
  return h;
}

std::shared_ptr<KernelObject> Lookup(Handle h) {
  Table& table = TheTable();
  std::lock_guard guard(table.lock);
  auto it = table.objects.find(h);
  return it == table.objects.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> Unregister(Handle h) {
  Table& table = TheTable();
  std::lock_guard guard(table.lock);
  auto it = table.objects.find(h);
  if (it == table.objects.end()) return nullptr;
  std::shared_ptr<KernelObject> object = std::move(it->second);
  table.objects.erase(it);
  return object;
}

void SetLastErrorValue(std::uint32_t code) { tLastError = code; }
std::uint32_t LastErrorValue() { return tLastError; }

}  // namespace comm::posix
