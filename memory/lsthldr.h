// ptrlstQK: a singly linked list of untyped pointers that counts its live iterators, and
// ListHolderQK, the Holder built on it.
//
//   ptrlstQK list;
//   list.append(&a);
//   for (ptrlst_itrQK it(list); it.current(); it.advance()) use(it.current()->item);
//
// The list never owns what its pointers point to. Changing, clearing or destroying a list
// while iterators are alive is misuse: it is logged under "lsthldr" (an append at TRACE,
// the rest at EXIT) and then done. A clear or destruction detaches the live iterators,
// which from then on stand on nothing and no longer count.
#ifndef QK_MEMORY_LSTHLDR_H
#define QK_MEMORY_LSTHLDR_H

#include <cstdint>

#include "memory/tracker.h"

class ptrlst_itrQK;

class ptrlstQK {
 public:
  struct Node {
    void* item;
    Node* next;
  };

  ptrlstQK();
  // Appends every pointer of the other list, in order.
  ptrlstQK(const ptrlstQK& other);
  // Clears, then appends every pointer of the other list; nothing when assigned to itself.
  ptrlstQK& operator=(const ptrlstQK& other);
  virtual ~ptrlstQK();

  void append(void* item);
  // Removes a node of this list. A node that is not in it is logged ("Inconsistent.")
  // and left alone; the list is not changed.
  void removeNode(Node* node);
  void clear();

  Node* head() const { return head_; }
  Node* tail() const { return tail_; }
  std::uint32_t length() const { return length_; }
  std::uint32_t liveIterators() const { return live_iterators_; }

 private:
  friend class ptrlst_itrQK;
  void destroyNodes();
  void detachIterators();

  Node* head_;
  Node* tail_;
  std::uint32_t length_;
  std::uint32_t live_iterators_;
  ptrlst_itrQK* iterators_;  // the live iterators, chained through their next_ field
};

// An iterator over a ptrlstQK: made standing on the head; counts itself in the list while
// it lives.
class ptrlst_itrQK {
 public:
  explicit ptrlst_itrQK(ptrlstQK& list);
  virtual ~ptrlst_itrQK();
  ptrlst_itrQK(const ptrlst_itrQK&) = delete;
  ptrlst_itrQK& operator=(const ptrlst_itrQK&) = delete;

  ptrlstQK::Node* current() const { return current_; }
  void restart() { current_ = list_ ? list_->head_ : nullptr; }
  void advance() {
    if (current_) current_ = current_->next;
  }
  // The list it walks; nullptr once the list was cleared or destroyed.
  ptrlstQK* list() const { return list_; }

 private:
  friend class ptrlstQK;
  ptrlstQK* list_;
  ptrlstQK::Node* current_;
  ptrlst_itrQK* next_;  // the list's next live iterator
};

// A Holder that keeps its objects in entry order.
class ListHolderQK : public Holder, private ptrlstQK {
 public:
  ListHolderQK();
  ~ListHolderQK() override;

  void enter(Trackable* object) override;
  std::int32_t remove(Trackable* object) override;
  std::uint32_t count() const override;
  HolderItr* makeIterator() override;
  void deleteIterator(HolderItr* iterator) override;

  // The list's live iterators (for tests and reports).
  std::uint32_t liveIterators() const { return ptrlstQK::liveIterators(); }
};

class ListHolderQKItr : public HolderItr, private ptrlst_itrQK {
 public:
  explicit ListHolderQKItr(ptrlstQK& list);
  ~ListHolderQKItr() override;

  Trackable* first() override;
  Trackable* next() override;
  bool done() const override;
};

#endif
