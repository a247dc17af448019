// The boundary guard and the last-failure record: whatever a call body raises is caught and
// recorded with its kind; Tarvo_last_failure reports it under the buffer rules, reading it
// clears nothing, and the next guarded call clears it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "api/boundary.h"
#include "platform/failure.h"

using namespace tarvo;

namespace {

std::string LastMessage() {
  char buffer[2048];
  Tarvo_last_failure(buffer, sizeof buffer);
  return buffer;
}

}  // namespace

TEST(Boundary, EveryRaisedFailureIsRecorded) {
  struct Case {
    const char* name;
    std::function<void()> body;
    int32_t kind;
    std::string message;
  };
  const Case cases[] = {
      {"success", [] {}, 0, ""},
      {"input/output",
       [] { Raise(FailureKind::InputOutput, "cannot open exchange file 'x.dat': No such file"); },
       1, "cannot open exchange file 'x.dat': No such file"},
      {"invalid operation", [] { Raise(FailureKind::InvalidOperation, "power"); }, 2, "power"},
      {"Variant conversion", [] { Raise(FailureKind::VariantConversion, "cell"); }, 3, "cell"},
      {"out of memory", [] { throw std::bad_alloc(); }, 2, "out of memory"},
      {"other standard exception", [] { throw std::runtime_error("broken"); }, 2, "broken"},
      {"anything else", [] { throw 42; }, 2, "unknown failure"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastFailure(FailureKind::InputOutput, "left over from an earlier call");
    Guarded(c.body);
    EXPECT_EQ(Tarvo_last_failure(nullptr, 0), c.kind);
    EXPECT_EQ(static_cast<int32_t>(LastFailureKind()), c.kind);
    EXPECT_EQ(LastMessage(), c.message);
    // Reading clears nothing.
    EXPECT_EQ(Tarvo_last_failure(nullptr, 0), c.kind);
    EXPECT_EQ(LastMessage(), c.message);
  }
}

TEST(Boundary, MessageBufferRules) {
  Guarded([] { Raise(FailureKind::InputOutput, "abc\xC3\xA9z"); });  // "abcéz", é is 2 bytes
  struct Case {
    int32_t capacity;
    std::string expected;  // what lands in the buffer
  };
  const Case cases[] = {
      {1, ""},         {3, "ab"},           {4, "abc"},
      {5, "abc"},      // é would be cut in half: left out whole
      {6, "abc\xC3\xA9"}, {7, "abc\xC3\xA9z"}, {100, "abc\xC3\xA9z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.capacity);
    char buffer[128];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(Tarvo_last_failure(buffer, c.capacity), 1);
    EXPECT_EQ(std::string(buffer), c.expected);
    for (int32_t i = c.capacity; i < static_cast<int32_t>(sizeof buffer); ++i)
      ASSERT_EQ(buffer[i], '#') << "written past the capacity at " << i;
  }

  // A NULL buffer, or a capacity of 0 or less, only returns the kind.
  char untouched[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(Tarvo_last_failure(nullptr, 100), 1);
  EXPECT_EQ(Tarvo_last_failure(untouched, 0), 1);
  EXPECT_EQ(Tarvo_last_failure(untouched, -5), 1);
  EXPECT_EQ(std::string(untouched, 4), "####");

  // The next guarded call clears the record even when it succeeds.
  Guarded([] {});
  EXPECT_EQ(Tarvo_last_failure(nullptr, 0), 0);
  EXPECT_EQ(LastMessage(), "");
}

TEST(Boundary, LongMessagesAreCutAtACharacterBoundary) {
  std::string long_message(kMaxFailureMessage - 1, 'x');
  long_message += "\xE2\x82\xAC\xE2\x82\xAC";  // two 3-byte characters across the limit
  Guarded([&] { Raise(FailureKind::VariantConversion, long_message); });
  EXPECT_EQ(LastFailureMessage(), std::string(kMaxFailureMessage - 1, 'x'));
  EXPECT_EQ(LastMessage(), LastFailureMessage());
}
