// Lock-protected lists shared between the client and its worker threads.
//
// A protected list hands out a locked view through GetLock and takes the
// lock back through ReleaseLock; the view may only be used in between, by the
// thread that holds the lock. TNeloMQTTListGuard does the pairing for a scope,
// so the lock is given back also when an operation fails part-way.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

// View of a list of 16-bit packet ids. Duplicates are kept.
class TNeloMQTTWordList {
 public:
  // Appends AWord; returns its index.
  int Add(uint16_t AWord);
  // Removes the entry at AIndex (index checked).
  void Delete(int AIndex);
  uint16_t Items(int AIndex) const;
  void SetItems(int AIndex, uint16_t AWord);
  int Count() const { return static_cast<int>(FItems.size()); }
  // Index of the first entry equal to AWord, -1 when there is none.
  int IndexOf(uint16_t AWord) const;
  void Clear() { FItems.clear(); }

 private:
  void CheckIndex(int AIndex) const;
  std::vector<uint16_t> FItems;
};

// View of a list of owned objects, first in first out. The list owns what it
// holds; Extract hands an entry over to the caller.
template <class T>
class TNeloMQTTOwnedLockList {
 public:
  int Add(std::unique_ptr<T> AItem) {
    FItems.push_back(std::move(AItem));
    return static_cast<int>(FItems.size()) - 1;
  }
  std::unique_ptr<T> ExtractFirst() {
    if (FItems.empty()) return nullptr;
    std::unique_ptr<T> item = std::move(FItems.front());
    FItems.pop_front();
    return item;
  }
  void AddFirst(std::unique_ptr<T> AItem) { FItems.push_front(std::move(AItem)); }
  void Clear() { FItems.clear(); }
  int Count() const { return static_cast<int>(FItems.size()); }
  template <class TVisit>
  void ForEach(TVisit AVisit) const {
    for (const auto& item : FItems) AVisit(*item);
  }
  // Takes out every entry for which APredicate holds, in order.
  template <class TPredicate>
  std::vector<std::unique_ptr<T>> ExtractIf(TPredicate APredicate) {
    std::vector<std::unique_ptr<T>> taken;
    for (auto it = FItems.begin(); it != FItems.end();) {
      if (APredicate(**it)) {
        taken.push_back(std::move(*it));
        it = FItems.erase(it);
      } else {
        ++it;
      }
    }
    return taken;
  }

 private:
  std::deque<std::unique_ptr<T>> FItems;
};

void NeloMQTTListIndexError(int AIndex, int ACount);

// A list of type TView behind a mutex.
template <class TView>
class TNeloMQTTThreadList {
 public:
  TNeloMQTTThreadList() = default;
  TNeloMQTTThreadList(const TNeloMQTTThreadList&) = delete;
  TNeloMQTTThreadList& operator=(const TNeloMQTTThreadList&) = delete;

  TView& GetLock() {
    FLock.lock();
    return FList;
  }
  void ReleaseLock() { FLock.unlock(); }

 private:
  std::mutex FLock;
  TView FList;
};

// Holds a protected list's lock for the life of the guard.
template <class TList>
class TNeloMQTTListGuard {
 public:
  explicit TNeloMQTTListGuard(TList& AList) : FList(AList), FView(AList.GetLock()) {}
  ~TNeloMQTTListGuard() { FList.ReleaseLock(); }
  TNeloMQTTListGuard(const TNeloMQTTListGuard&) = delete;
  TNeloMQTTListGuard& operator=(const TNeloMQTTListGuard&) = delete;
  auto& View() { return FView; }
  auto* operator->() { return &FView; }

 private:
  TList& FList;
  decltype(std::declval<TList&>().GetLock()) FView;
};

class TNeloMQTTWordThreadList : public TNeloMQTTThreadList<TNeloMQTTWordList> {};
