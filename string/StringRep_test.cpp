// Representation operations: counts, copy on write, growth, and sources that overlap the
// representation being changed.
#include "string/StringRep.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string text_of(const StringRep* rep) { return std::string(rep->text(), static_cast<std::size_t>(rep->length)); }

// A counted representation holding text.
StringRep* held(const char* text) {
  StringRep* rep = StringRep::create(text, -1);
  rep->references = 1;
  return rep;
}

TEST(StringRepOperations, CreateReplaceAndMakePrivate) {
  StringRep* rep = StringRep::create("hello", -1);
  EXPECT_EQ(0, rep->references);
  EXPECT_EQ(18, rep->capacity);
  EXPECT_EQ(0, rep->text()[5]);
  rep->references = 2;  // shared with another handle
  rep->state = 7;
  StringRep* mine = StringRep::make_private(rep);
  EXPECT_NE(rep, mine);
  EXPECT_EQ(1, rep->references);
  EXPECT_EQ(1, mine->references);
  EXPECT_EQ("hello", text_of(mine));
  EXPECT_EQ(0, mine->state);
  rep->state = 7;
  EXPECT_EQ(rep, StringRep::make_private(rep));
  EXPECT_EQ(0, rep->state);

  StringRep* same = StringRep::replace(mine, "world!", -1);
  EXPECT_EQ(mine, same);  // private and big enough: rewritten in place
  EXPECT_EQ("world!", text_of(same));
  StringRep* bigger = StringRep::replace(same, std::string(40, 'w').c_str(), -1);
  EXPECT_EQ(50, bigger->capacity);
  EXPECT_EQ(1, bigger->references);
  StringRep::release(bigger);
  StringRep::release(rep);
}

TEST(StringRepOperations, GrowAndEnlarge) {
  StringRep* rep = held("abc");
  EXPECT_EQ(rep, StringRep::grow(rep, 15));
  StringRep* grown = StringRep::grow(rep, 16);
  EXPECT_EQ(50, grown->capacity);
  EXPECT_EQ("abc", text_of(grown));
  StringRep* larger = StringRep::enlarge(grown, 1);  // capacity 50 + 1 needs the 128-byte block
  EXPECT_EQ(114, larger->capacity);
  EXPECT_EQ("abc", text_of(larger));
  EXPECT_EQ(larger, StringRep::enlarge(larger, 0));
  StringRep::release(larger);

  StringRep* empty = StringRep::empty();
  EXPECT_EQ(empty, StringRep::grow(empty, 0));
  StringRep* from_empty = StringRep::append(empty, "x", 1);
  EXPECT_NE(empty, from_empty);
  EXPECT_EQ(0, empty->capacity);
  EXPECT_EQ(0, empty->length);
  StringRep::release(from_empty);
}

TEST(StringRepOperations, PrependAndSplice) {
  StringRep* rep = held("world");
  rep = StringRep::prepend(rep, "hello ", -1);
  EXPECT_EQ("hello world", text_of(rep));
  rep = StringRep::splice(rep, 0, 5, "goodbye", -1);
  EXPECT_EQ("goodbye world", text_of(rep));
  rep = StringRep::splice(rep, 7, 6, "", 0);
  EXPECT_EQ("goodbye", text_of(rep));
  rep = StringRep::splice(rep, 7, 0, std::string(30, '!').c_str(), -1);
  EXPECT_EQ(37, rep->length);
  EXPECT_EQ(0, rep->text()[37]);
  StringRep* unchanged = StringRep::splice(rep, 30, 8, "x", 1);  // stretch beyond the text
  EXPECT_EQ(rep, unchanged);
  EXPECT_EQ(37, rep->length);
  StringRep::release(rep);
}

TEST(StringRepOperations, SourcesInsideTheChangedRepresentation) {
  StringRep* rep = held("0123456789");
  rep = StringRep::prepend(rep, rep->text() + 7, 3);  // grows into a new block
  EXPECT_EQ("7890123456789", text_of(rep));
  rep = StringRep::splice(rep, 0, 1, rep->text() + 10, 3);
  EXPECT_EQ("789890123456789", text_of(rep));
  rep = StringRep::append(rep, rep->text(), rep->length);
  EXPECT_EQ("789890123456789789890123456789", text_of(rep));
  rep = StringRep::replace(rep, rep->text() + 20, -1);
  EXPECT_EQ("0123456789", text_of(rep));
  rep->references = 2;  // shared: the replacement moves to a new block
  StringRep* fresh = StringRep::replace(rep, rep->text() + 2, 3);
  EXPECT_EQ("234", text_of(fresh));
  EXPECT_EQ("0123456789", text_of(rep));
  EXPECT_EQ(1, rep->references);  // the replacing handle let go of it
  StringRep::release(fresh);
  StringRep::release(rep);
}

TEST(StringRepOperations, ReleaseCountsDownThenFrees) {
  StringRep* rep = held("abc");
  rep->references = 3;
  StringRep::release(rep);
  EXPECT_EQ(2, rep->references);
  StringRep::release(rep);
  EXPECT_EQ(1, rep->references);
  StringRep::release(rep);
  StringRep::release(nullptr);
  StringRep::release(StringRep::empty());
  EXPECT_EQ(0, StringRep::empty()->references);
}

}  // namespace
