// Threads, thread message queues, events, the named mutex and window posts.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Errors.h"
#include "platform/Event.h"
#include "platform/MessageQueue.h"
#include "platform/NamedMutex.h"
#include "platform/Thread.h"
#include "platform/Time.h"
#include "platform/Window.h"
#include "support/ThreadCount.h"

using namespace platform;

namespace {

void DrainOwnQueue() {
    Message m;
    while (PeekMessage(&m, 0, 0, PM_REMOVE)) {
    }
}

// A thread that makes its queue when told to, then collects messages until
// it receives number 1.
struct Collector {
    Event go;
    Event ready;
    std::vector<Message> received;

    static uint32_t Main(void* self) {
        auto* c = static_cast<Collector*>(self);
        WaitForSingle(c->go, INFINITE);
        Message m;
        PeekMessage(&m, 0, 0, PM_NOREMOVE);
        c->ready.Set();
        for (;;) {
            WaitMessage();
            while (PeekMessage(&m, 0, 0, PM_REMOVE)) {
                c->received.push_back(m);
                if (m.message == 1) {
                    return static_cast<uint32_t>(c->received.size());
                }
            }
        }
    }
};

TEST(MessageQueue, PostsAreRefusedUntilTheQueueExistsAndAfterTheThreadEnded) {
    Collector collector;
    auto thread = Thread::CreateSuspended(Collector::Main, &collector);
    ASSERT_TRUE(thread);
    EXPECT_NE(thread->Id(), 0u);
    EXPECT_FALSE(PostThreadMessage(thread->Id(), 5, 0, 0));
    EXPECT_EQ(LastError(), ERROR_INVALID_THREAD_ID);
    thread->Resume();
    EXPECT_FALSE(PostThreadMessage(thread->Id(), 5, 0, 0));  // running, but no queue yet

    collector.go.Set();
    ASSERT_EQ(WaitForSingle(collector.ready, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(PostThreadMessage(thread->Id(), 7, MAKEWPARAM(3, 4), -9));
    EXPECT_TRUE(PostThreadMessage(thread->Id(), 1, 0, 0));
    ASSERT_TRUE(thread->Join(5000));
    EXPECT_EQ(thread->ExitCode(), 2u);
    ASSERT_EQ(collector.received.size(), 2u);
    EXPECT_EQ(collector.received[0].message, 7u);
    EXPECT_EQ(LOWORD(collector.received[0].wParam), 3);
    EXPECT_EQ(HIWORD(collector.received[0].wParam), 4);
    EXPECT_EQ(collector.received[0].lParam, -9);

    EXPECT_FALSE(PostThreadMessage(thread->Id(), 5, 0, 0));
}

TEST(MessageQueue, PeekTakesTheOldestInRangeAndLeavesTheRestInOrder) {
    DrainOwnQueue();
    const ThreadId me = CurrentThreadId();
    for (uint32_t number : {10u, 200u, 20u, 300u, 210u}) {
        ASSERT_TRUE(PostThreadMessage(me, number, number, 0));
    }
    Message m;
    ASSERT_TRUE(PeekMessage(&m, 100, 250, PM_NOREMOVE));
    EXPECT_EQ(m.message, 200u);
    ASSERT_TRUE(PeekMessage(&m, 100, 250, PM_REMOVE));
    EXPECT_EQ(m.message, 200u);
    ASSERT_TRUE(PeekMessage(&m, 100, 250, PM_REMOVE));
    EXPECT_EQ(m.message, 210u);
    EXPECT_FALSE(PeekMessage(&m, 100, 250, PM_REMOVE));
    std::vector<uint32_t> rest;
    while (PeekMessage(&m, 0, 0, PM_REMOVE)) {
        rest.push_back(m.message);
    }
    EXPECT_EQ(rest, (std::vector<uint32_t>{10, 20, 300}));
}

TEST(MessageQueue, WaitMessageWakesOnlyForMessagesNotSeenBefore) {
    DrainOwnQueue();
    const ThreadId me = CurrentThreadId();
    ASSERT_TRUE(PostThreadMessage(me, 500, 0, 0));
    EXPECT_TRUE(WaitMessage(0));  // new since the drain
    Message m;
    EXPECT_FALSE(PeekMessage(&m, 1, 100, PM_REMOVE));  // looks at the queue; 500 stays
    EXPECT_FALSE(WaitMessage(30));

    std::thread poster([me] {
        platform::Sleep(20);
        PostThreadMessage(me, 501, 0, 0);
    });
    EXPECT_TRUE(WaitMessage(5000));
    poster.join();
    ASSERT_TRUE(PeekMessage(&m, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, 500u);
    ASSERT_TRUE(PeekMessage(&m, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, 501u);
}

TEST(MessageQueue, AFullQueueRefusesWithoutBlocking) {
    DrainOwnQueue();
    const ThreadId me = CurrentThreadId();
    for (uint32_t i = 0; i < MESSAGE_QUEUE_LIMIT; ++i) {
        ASSERT_TRUE(PostThreadMessage(me, 1000, i, 0));
    }
    EXPECT_FALSE(PostThreadMessage(me, 1000, 0, 0));
    EXPECT_EQ(LastError(), ERROR_NOT_ENOUGH_QUOTA);
    DrainOwnQueue();
    EXPECT_TRUE(PostThreadMessage(me, 1000, 0, 0));
    DrainOwnQueue();
}

TEST(Events, WaitForAnyReportsTheSetEventOrTheTimeOut) {
    Event a, b, c;
    Event* events[] = {&a, &b, &c};
    EXPECT_EQ(WaitForAny(events, 0), WAIT_TIMEOUT);
    const uint64_t start = TickCount();
    EXPECT_EQ(WaitForAny(events, 40), WAIT_TIMEOUT);
    EXPECT_GE(TickCount() - start, 39u);

    std::thread setter([&] {
        platform::Sleep(20);
        c.Set();
    });
    EXPECT_EQ(WaitForAny(events, 5000), WAIT_OBJECT_0 + 2);
    setter.join();
    EXPECT_EQ(WaitForSingle(c, 0), WAIT_OBJECT_0);  // manual reset: stays set
    b.Set();
    EXPECT_EQ(WaitForAny(events, INFINITE), WAIT_OBJECT_0 + 1);  // lowest index first
    b.Reset();
    c.Reset();
    EXPECT_EQ(WaitForAny(events, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForAny({}, 0), WAIT_FAILED);
}

uint32_t WaitForEvent(void* event) {
    return WaitForSingle(*static_cast<Event*>(event), INFINITE) + 40;
}

TEST(Threads, JoinTimesOutOnARunningThreadAndSucceedsOnceItEnds) {
    Event release;
    auto thread = Thread::CreateSuspended(WaitForEvent, &release);
    ASSERT_TRUE(thread);
    EXPECT_FALSE(thread->Join(20));  // suspended
    thread->Resume();
    EXPECT_FALSE(thread->Join(20));  // waiting
    release.Set();
    EXPECT_TRUE(thread->Join(INFINITE));
    EXPECT_EQ(thread->ExitCode(), 40u);
    EXPECT_TRUE(thread->Join(0));
}

struct Flags {
    std::atomic<bool> ran{false};
    Event release;
    Event done;
};

uint32_t RunAndSignal(void* argument) {
    auto* flags = static_cast<Flags*>(argument);
    flags->ran = true;
    WaitForSingle(flags->release, INFINITE);
    flags->done.Set();
    return 0;
}

TEST(Threads, DestroyingTheObjectNeverBlocksOnOrCutsShortTheThread) {
    const int before = ThreadBaseline();
    Flags neverResumed;
    Thread::CreateSuspended(RunAndSignal, &neverResumed).reset();
    EXPECT_FALSE(neverResumed.ran);
    EXPECT_TRUE(ThreadCountReturnsTo(before));

    Flags running;
    auto thread = Thread::CreateSuspended(RunAndSignal, &running);
    thread->Resume();
    EXPECT_FALSE(thread->Join(10));
    thread.reset();  // gives up on the thread, which goes on by itself
    running.release.Set();
    EXPECT_EQ(WaitForSingle(running.done, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(running.ran);
    EXPECT_TRUE(ThreadCountReturnsTo(before));
}

uint32_t ReportId(void* out) {
    *static_cast<ThreadId*>(out) = CurrentThreadId();
    return 0;
}

TEST(Threads, EveryThreadHasItsOwnStableId) {
    const ThreadId main = CurrentThreadId();
    EXPECT_NE(main, 0u);
    EXPECT_EQ(CurrentThreadId(), main);
    ThreadId seen = 0;
    auto thread = Thread::CreateSuspended(ReportId, &seen);
    thread->Resume();
    ASSERT_TRUE(thread->Join(5000));
    EXPECT_EQ(seen, thread->Id());
    EXPECT_NE(seen, main);
    ThreadId foreign = 0;
    std::thread([&] { foreign = CurrentThreadId(); }).join();
    EXPECT_NE(foreign, 0u);
    EXPECT_NE(foreign, main);
    EXPECT_NE(foreign, seen);
}

struct MutexUser {
    std::string name;
    uint32_t waitResult = 0;
};

// Acquires the mutex and ends without releasing it.
uint32_t TakeMutex(void* argument) {
    auto* user = static_cast<MutexUser*>(argument);
    auto mutex = NamedMutex::Open(user->name);
    user->waitResult = mutex ? mutex->Wait(INFINITE) : WAIT_FAILED;
    return 0;
}

TEST(NamedMutex, IsSharedByNameOwnedPerThreadAndAbandonedWithItsOwner) {
    EXPECT_FALSE(NamedMutex::Open("TestMutex"));
    EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND);
    auto created = NamedMutex::Create("TestMutex");
    ASSERT_TRUE(created);
    EXPECT_FALSE(created->AlreadyExisted());
    auto again = NamedMutex::Create("TestMutex");
    EXPECT_TRUE(again->AlreadyExisted());
    auto opened = NamedMutex::Open("TestMutex");
    ASSERT_TRUE(opened);

    // Recursive for its owner; others wait.
    EXPECT_EQ(created->Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(opened->Wait(0), WAIT_OBJECT_0);
    uint32_t otherResult = 0;
    bool otherReleased = true;
    std::thread([&] {
        otherResult = opened->Wait(20);
        otherReleased = opened->Release();
    }).join();
    EXPECT_EQ(otherResult, WAIT_TIMEOUT);
    EXPECT_FALSE(otherReleased);
    EXPECT_TRUE(created->Release());
    EXPECT_TRUE(created->Release());
    EXPECT_FALSE(created->Release());
    EXPECT_EQ(LastError(), ERROR_NOT_OWNER);

    // A thread that ends holding it abandons it; the next waiter gets it.
    MutexUser holder{"TestMutex", 0};
    auto thread = Thread::CreateSuspended(TakeMutex, &holder);
    thread->Resume();
    ASSERT_TRUE(thread->Join(5000));
    EXPECT_EQ(holder.waitResult, WAIT_OBJECT_0);
    EXPECT_EQ(created->Wait(5000), WAIT_ABANDONED);
    EXPECT_TRUE(created->Release());
    EXPECT_EQ(created->Wait(0), WAIT_OBJECT_0);  // abandonment is reported once
    EXPECT_TRUE(created->Release());

    // The same for a thread not started through Thread.
    std::thread([&] { EXPECT_EQ(opened->Wait(0), WAIT_OBJECT_0); }).join();
    EXPECT_EQ(created->Wait(5000), WAIT_ABANDONED);
    EXPECT_TRUE(created->Release());

    created.reset();
    again.reset();
    opened.reset();
    EXPECT_FALSE(NamedMutex::Open("TestMutex"));  // gone with its last reference
}

TEST(Windows, PostsReachTheSinkUntilItIsUnregistered) {
    DrainOwnQueue();
    ThreadQueueSink sink(CurrentThreadId());
    WindowHandle handle = 0;
    {
        WindowRegistration window(sink);
        handle = window.Handle();
        EXPECT_NE(handle, 0u);
        EXPECT_TRUE(PostWindowMessage(handle, 0x8190, MAKEWPARAM(33269, 2), 7));
        Message m;
        ASSERT_TRUE(PeekMessage(&m, 0, 0, PM_REMOVE));
        EXPECT_EQ(m.message, 0x8190u);
        EXPECT_EQ(LOWORD(m.wParam), 33269);
        EXPECT_EQ(HIWORD(m.wParam), 2);
        EXPECT_EQ(m.lParam, 7);
    }
    EXPECT_FALSE(PostWindowMessage(handle, 0x8190, 0, 0));
    EXPECT_FALSE(PostWindowMessage(0, 0x8190, 0, 0));

    // A sink whose thread has no queue refuses, and so does the post.
    ThreadQueueSink nobody(0);
    WindowRegistration window(nobody);
    EXPECT_FALSE(PostWindowMessage(window.Handle(), 0x8190, 0, 0));
}

TEST(Windows, RegisteredMessageNumbersAreStablePerName) {
    const uint32_t first = RegisterWindowMessage("TestMessage");
    EXPECT_GE(first, 0xC000u);
    EXPECT_LE(first, 0xFFFFu);
    EXPECT_EQ(RegisterWindowMessage("TestMessage"), first);
    EXPECT_EQ(RegisterWindowMessage("testmessage"), first);
    const uint32_t other = RegisterWindowMessage("OtherTestMessage");
    EXPECT_NE(other, first);
    EXPECT_GE(other, 0xC000u);
    EXPECT_EQ(RegisterWindowMessage(""), 0u);
}

}  // namespace
