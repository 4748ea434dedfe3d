#include "driver/play_queue.h"

#include <gtest/gtest.h>

namespace tarnel::test {
namespace {

using Entries = std::deque<std::string>;

TEST(PlayQueueTest, PlaysInOrderOnceEach) {
    PlayQueue queue;
    EXPECT_TRUE(queue.empty());
    EXPECT_FALSE(queue.take_next());
    EXPECT_TRUE(queue.add("a.nsv"));
    EXPECT_TRUE(queue.add("b.nsv"));
    EXPECT_TRUE(queue.add("a.nsv"));
    EXPECT_EQ(queue.peek_next(), "a.nsv");
    EXPECT_EQ(queue.take_next(), "a.nsv");
    EXPECT_EQ(queue.take_next(), "b.nsv");
    EXPECT_EQ(queue.take_next(), "a.nsv");
    EXPECT_FALSE(queue.take_next());
    EXPECT_TRUE(queue.empty());
}

TEST(PlayQueueTest, HoldsAHundredEntriesAtMost) {
    PlayQueue queue;
    for (size_t i = 0; i < PlayQueue::kCapacity; ++i) {
        ASSERT_TRUE(queue.add(std::to_string(i)));
    }
    EXPECT_FALSE(queue.add("one too many"));
    EXPECT_EQ(queue.entries().size(), 100u);
    EXPECT_EQ(queue.entries().back(), "99");
}

TEST(PlayQueueTest, RemovesByNumberFromOne) {
    PlayQueue queue;
    for (const char* entry : {"a", "b", "c"}) {
        queue.add(entry);
    }
    EXPECT_FALSE(queue.remove(0));
    EXPECT_FALSE(queue.remove(4));
    EXPECT_TRUE(queue.remove(2));
    EXPECT_EQ(queue.entries(), (Entries{"a", "c"}));
    EXPECT_TRUE(queue.remove(2));
    EXPECT_TRUE(queue.remove(1));
    EXPECT_TRUE(queue.empty());
}

TEST(PlayQueueTest, PlayNowComesFirstAndTheLatestWins) {
    PlayQueue queue;
    queue.add("queued.nsv");
    queue.play_now("first.nsv");
    queue.play_now("second.nsv");
    EXPECT_EQ(queue.peek_next(), "second.nsv");
    EXPECT_EQ(queue.take_next(), "second.nsv");
    EXPECT_EQ(queue.take_next(), "queued.nsv");
    EXPECT_FALSE(queue.take_next());
}

TEST(PlayQueueTest, AnEntryCutByALostConnectionPlaysFirstAgain) {
    PlayQueue queue;
    queue.add("later.nsv");
    queue.put_back("cut.nsv");
    EXPECT_EQ(queue.take_next(), "cut.nsv");
    EXPECT_EQ(queue.take_next(), "later.nsv");

    // A play request made while the stream was down comes right after it.
    queue.play_now("asked.nsv");
    queue.put_back("cut.nsv");
    EXPECT_EQ(queue.take_next(), "cut.nsv");
    EXPECT_EQ(queue.take_next(), "asked.nsv");
    EXPECT_TRUE(queue.empty());
}

}  // namespace
}  // namespace tarnel::test
