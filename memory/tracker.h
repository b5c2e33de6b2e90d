// A registry of live objects and a report over them.
//
// A Tracker keeps Trackable objects in a Holder (an abstract container) and walks them
// with a Visitor. The allocator registry is an AllocatorTrackerQK that holds every live
// ALLOCATOR_QK in a ListHolderQK:
//
//   Tracker t;
//   t.setHolder(new ListHolderQK);      // the tracker owns the holder
//   t.setVisitor(new MyVisitor);        // ... and the visitor
//   t.enter(&object);
//   t.visit(&std::cout, "options");     // begin, visit for each object in entry order, end
//   t.remove(&object);
//
// Misuse (no holder, no visitor, an object that is not held) is logged under "tracker"
// at ERROR and answered with -1; nothing is thrown. Only the allocator registry has a
// lock: allocators are made and destroyed on any thread.
#ifndef QK_MEMORY_TRACKER_H
#define QK_MEMORY_TRACKER_H

#include <cstdint>
#include <mutex>
#include <ostream>

class Visitor;

// An object that a Tracker can hold; it bears a name of at most 29 characters.
class Trackable {
 public:
  static constexpr int name_size = 30;  // the name buffer, NUL included

  explicit Trackable(const char* name = nullptr);
  virtual ~Trackable();
  Trackable(const Trackable&) = delete;
  Trackable& operator=(const Trackable&) = delete;

  // visitor.visit(this, no options).
  virtual int accept(Visitor& visitor);

  const char* name() const { return name_; }

 private:
  char name_[name_size];
};

// Walks the objects of a tracker: begin once, visit for every object, end once.
class Visitor {
 public:
  // out: the report's stream, owned by the caller; nullptr for none.
  explicit Visitor(std::ostream* out = nullptr);
  virtual ~Visitor();
  Visitor(const Visitor&) = delete;
  Visitor& operator=(const Visitor&) = delete;

  virtual int visit(Trackable* object, const char* options) = 0;
  // Starts a report on out (nullptr: a stream of the visitor's choosing); returns the
  // stream used before.
  virtual std::ostream* begin(std::ostream* out, const char* options) = 0;
  // Ends the report; the tracker's visit returns this result.
  virtual int end(const char* options) = 0;

 protected:
  std::ostream* out_;
  bool caller_stream_;  // out_ belongs to the caller
};

// An iterator over a Holder. first() moves to the first object; next() moves on and stays
// at the end; done() is true when the iterator stands on nothing.
class HolderItr {
 public:
  virtual Trackable* first() = 0;
  virtual Trackable* next() = 0;
  virtual bool done() const = 0;
  virtual ~HolderItr();
};

// The container a Tracker keeps its objects in.
class Holder {
 public:
  virtual void enter(Trackable* object) = 0;
  // 0 when the object was held and is now removed, -1 when it was not held.
  virtual std::int32_t remove(Trackable* object) = 0;
  virtual std::uint32_t count() const = 0;
  // An iterator made on the heap; give it back with deleteIterator.
  virtual HolderItr* makeIterator() = 0;
  virtual void deleteIterator(HolderItr* iterator) = 0;
  virtual ~Holder();
};

class Tracker {
 public:
  Tracker();
  // visit(out, options) with its arguments the other way round.
  virtual int visit(const char* options, std::ostream* out);
  virtual ~Tracker();
  Tracker(const Tracker&) = delete;
  Tracker& operator=(const Tracker&) = delete;

  // 0, or -1 without a holder.
  virtual std::int32_t enter(Trackable* object);
  // The holder's result (logged when not 0), or -1 without a holder.
  virtual std::int32_t remove(Trackable* object);
  // Takes the new visitor and hands the old one (or nullptr) back to the caller.
  virtual Visitor* exchangeVisitor(Visitor* visitor);
  // begin, visit for every held object in the holder's order (null entries skipped),
  // end; returns end's result, or -1 without a holder or a visitor.
  virtual int visit(std::ostream* out, const char* options);

  // The tracker owns what it is given and destroys what it held before.
  void setHolder(Holder* holder);
  void setVisitor(Visitor* visitor);
  Holder* holder() const { return holder_; }
  Visitor* visitor() const { return visitor_; }

 private:
  Holder* holder_;
  Visitor* visitor_;
};

// The allocator registry's tracker (see allocatorTracker() in memory/allocator.h). Its
// changes and visits hold its lock, so that allocators may be made and destroyed on any
// thread while others report. The lock is recursive: a visitor may make allocators (a
// String pool, say) on the visiting thread. lock() and unlock() let a caller walk the
// holder itself; nothing on an allocator's alloc() or free() path takes it.
class AllocatorTrackerQK : public Tracker {
 public:
  AllocatorTrackerQK();
  ~AllocatorTrackerQK() override;

  std::int32_t enter(Trackable* object) override;
  std::int32_t remove(Trackable* object) override;
  Visitor* exchangeVisitor(Visitor* visitor) override;
  using Tracker::visit;
  int visit(std::ostream* out, const char* options) override;

  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

#endif
