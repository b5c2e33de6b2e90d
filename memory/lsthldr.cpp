// The pointer list, its iterators, and the list holder of the trackers.
#include "memory/lsthldr.h"

#include "log/logger.h"

namespace {

LoggerGuard logger_guard;

void log_message(int line, int level, const char* text) {
  QK_LOG_AT("lsthldr", line, level) << text;
}

}  // namespace

ptrlstQK::ptrlstQK() : head_(nullptr), tail_(nullptr), length_(0), live_iterators_(0), iterators_(nullptr) {}

ptrlstQK::ptrlstQK(const ptrlstQK& other) : ptrlstQK() {
  for (Node* node = other.head_; node; node = node->next) append(node->item);
}

ptrlstQK& ptrlstQK::operator=(const ptrlstQK& other) {
  if (this == &other) return *this;
  clear();
  for (Node* node = other.head_; node; node = node->next) append(node->item);
  return *this;
}

ptrlstQK::~ptrlstQK() {
  if (live_iterators_) log_message(__LINE__, EXIT, "Deleting list with itrs.");
  detachIterators();
  destroyNodes();
}

void ptrlstQK::append(void* item) {
  if (live_iterators_) log_message(__LINE__, TRACE, "Appending to list with itrs.");
  Node* node = new Node{item, nullptr};
  if (!head_)
    head_ = node;
  else
    tail_->next = node;
  tail_ = node;
  ++length_;
}

void ptrlstQK::removeNode(Node* node) {
  if (!node || !head_) return;
  if (live_iterators_) log_message(__LINE__, EXIT, "Removing from list with itrs.");
  if (node == head_) {
    head_ = node->next;
    if (node == tail_) tail_ = nullptr;
  } else {
    Node* before = head_;
    while (before != tail_ && before->next && before->next != node) before = before->next;
    if (before == tail_ || !before->next) {
      // Not a node of this list: it is neither relinked nor destroyed.
      log_message(__LINE__, EXIT, "Inconsistent.");
      return;
    }
    before->next = node->next;
    if (node == tail_) tail_ = before;
  }
  // An iterator standing on the node moves on to its successor.
  for (ptrlst_itrQK* it = iterators_; it; it = it->next_)
    if (it->current_ == node) it->current_ = node->next;
  delete node;
  --length_;
}

void ptrlstQK::clear() {
  if (live_iterators_) log_message(__LINE__, EXIT, "Clearing list with itrs.");
  detachIterators();
  destroyNodes();
}

void ptrlstQK::destroyNodes() {
  while (head_) {
    Node* next = head_->next;
    delete head_;
    head_ = next;
  }
  tail_ = nullptr;
  length_ = 0;
}

void ptrlstQK::detachIterators() {
  while (iterators_) {
    ptrlst_itrQK* it = iterators_;
    iterators_ = it->next_;
    it->list_ = nullptr;
    it->current_ = nullptr;
    it->next_ = nullptr;
  }
  live_iterators_ = 0;
}

ptrlst_itrQK::ptrlst_itrQK(ptrlstQK& list) : list_(&list), current_(list.head_), next_(list.iterators_) {
  list.iterators_ = this;
  ++list.live_iterators_;
}

ptrlst_itrQK::~ptrlst_itrQK() {
  if (!list_) return;  // detached by a clear or the list's end: no longer counted
  for (ptrlst_itrQK** link = &list_->iterators_; *link; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
  if (list_->live_iterators_) --list_->live_iterators_;
}

ListHolderQK::ListHolderQK() = default;

ListHolderQK::~ListHolderQK() = default;

void ListHolderQK::enter(Trackable* object) { append(object); }

std::int32_t ListHolderQK::remove(Trackable* object) {
  Node* found = nullptr;
  {
    ptrlst_itrQK it(*this);
    while (it.current() && it.current()->item != object) it.advance();
    found = it.current();
  }
  if (!found) return -1;
  removeNode(found);
  return 0;
}

std::uint32_t ListHolderQK::count() const { return length(); }

HolderItr* ListHolderQK::makeIterator() { return new ListHolderQKItr(*this); }

void ListHolderQK::deleteIterator(HolderItr* iterator) { delete iterator; }

ListHolderQKItr::ListHolderQKItr(ptrlstQK& list) : ptrlst_itrQK(list) {}

ListHolderQKItr::~ListHolderQKItr() = default;

Trackable* ListHolderQKItr::first() {
  restart();
  return current() ? static_cast<Trackable*>(current()->item) : nullptr;
}

Trackable* ListHolderQKItr::next() {
  advance();
  return current() ? static_cast<Trackable*>(current()->item) : nullptr;
}

bool ListHolderQKItr::done() const { return current() == nullptr; }
