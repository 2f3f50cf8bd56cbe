// CSerialLoader's listener and reader threads against a pseudo-terminal far
// end: replies and errors reaching the client thread, the start and stop
// handshakes, and the failure paths.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>

#include "Serial/CSerialLoader.h"
#include "platform/Errors.h"
#include "platform/MessageQueue.h"
#include "platform/PortDirectory.h"
#include "platform/Window.h"
#include "support/FarEnd.h"
#include "support/TestLoader.h"

using namespace platform;

namespace {

constexpr uint32_t kNotify = 0x8190;

std::vector<uint8_t> ReadBlock() {
    std::vector<uint8_t> block(128);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(0x03 + i * 5);  // starts with the end byte
    }
    return block;
}

// The next notification for this thread, or false after timeoutMs.
bool NextNotification(Message* message, uint32_t timeoutMs) {
    const uint64_t end = TickCount() + timeoutMs;
    for (;;) {
        if (PeekMessage(message, kNotify, kNotify, PM_REMOVE)) {
            return true;
        }
        const uint64_t now = TickCount();
        if (now >= end || !WaitMessage(static_cast<uint32_t>(end - now))) {
            return false;
        }
    }
}

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Message m;
        while (PeekMessage(&m, 0, 0, PM_REMOVE)) {
        }
        threadsBefore = ThreadBaseline();
        ASSERT_TRUE(far.Ok());
    }
    void TearDown() override {
        EXPECT_EQ(link.Close(), 0);
        EXPECT_TRUE(ThreadCountReturnsTo(threadsBefore));
    }
    void Connect() {
        ASSERT_EQ(link.Connect(far.Path().c_str(), CurrentThreadId(), kNotify, 0), 0);
    }
    // Sends a command and checks that the far end received it.
    void Send(int8_t code, const char* payload, int32_t length) {
        const LinkResult sent = link.SendCommand(code, payload, length, INFINITE);
        ASSERT_GT(sent.bytes, 0);
        ASSERT_EQ(far.Read(static_cast<size_t>(sent.bytes), 2000).size(),
                  static_cast<size_t>(sent.bytes));
    }
    void ExpectReply(uint16_t length, int8_t code) {
        Message m;
        ASSERT_TRUE(NextNotification(&m, 5000));
        EXPECT_EQ(LOWORD(m.wParam), LINK_REPLY);
        EXPECT_EQ(HIWORD(m.wParam), length);
        EXPECT_EQ(m.lParam, code);
    }
    void ExpectError(uint16_t code) {
        Message m;
        ASSERT_TRUE(NextNotification(&m, 5000));
        EXPECT_EQ(m.wParam, MAKEWPARAM(LINK_ERROR, code));
        EXPECT_EQ(m.lParam, 0);
    }
    void ExpectRejected(uint16_t code) {
        Message m;
        ASSERT_TRUE(NextNotification(&m, 5000));
        EXPECT_EQ(m.wParam, MAKEWPARAM(LINK_REJECTED, code));
    }
    void ExpectNothing(uint32_t forMs = 150) {
        Message m;
        EXPECT_FALSE(NextNotification(&m, forMs)) << "wParam " << m.wParam;
    }

    FarEnd far;
    TestLoader link;
    int threadsBefore = 0;
};

TEST_F(LinkTest, AReplyReachesTheClientWithItsPayload) {
    Connect();
    EXPECT_EQ(ThreadCount(), threadsBefore + 3);  // listener, reader, port watcher
    Send(3, nullptr, 0);
    ASSERT_TRUE(far.Write(Frame("F24", {'A', 'B', 'C'})));
    ExpectReply(3, 3);
    const uint8_t* payload = link.TakeReply();
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(std::string(payload, payload + 3), "ABC");
    EXPECT_EQ(link.TakeReply(), nullptr);  // one payload per notification
}

// The reader parses a stream: a frame is found by its header wherever it
// starts, may come in pieces with pauses, holds end bytes in its payload, and
// is followed at once by the next; each frame is one reply with its own
// payload, taken in order, whatever came around it.
TEST_F(LinkTest, ReadRepliesAreFramedFromTheByteStreamWhateverTheReadsHold) {
    Connect();
    Send(18, "00000", 5);
    const auto block = ReadBlock();
    auto other = block;
    other[7] = 0x44;
    const auto first = Frame("M80", block);
    const auto second = Frame("M80", other);
    // Noise (with a false start), then the first frame in pieces: it begins
    // with an end byte, so the reader wakes before the rest has come.
    std::vector<uint8_t> bytes = {0x55, 0x01, 'M', 0x07, 0x03};
    bytes.insert(bytes.end(), first.begin(), first.begin() + 6);
    ASSERT_TRUE(far.Write(bytes));
    Sleep(20);
    // Its rest and the whole second frame in one read.
    bytes.assign(first.begin() + 6, first.end());
    bytes.insert(bytes.end(), second.begin(), second.end());
    ASSERT_TRUE(far.Write(bytes));
    ExpectReply(128, 18);
    ExpectReply(128, 18);
    ExpectNothing(50);
    const uint8_t* payload = link.TakeReply();
    ASSERT_NE(payload, nullptr);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), payload));
    payload = link.TakeReply();
    ASSERT_NE(payload, nullptr);
    EXPECT_TRUE(std::equal(other.begin(), other.end(), payload));

    // A reply cut short and then the next one: the cut one is rejected once
    // the next has come, the next is taken whole.
    bytes.assign(first.begin(), first.begin() + 70);
    bytes.insert(bytes.end(), second.begin(), second.end());
    ASSERT_TRUE(far.Write(bytes));
    ExpectRejected(18);
    ExpectReply(128, 18);
    ExpectNothing(50);
}

TEST_F(LinkTest, AReplyCutShortIsRejectedOnceTheLineIsQuietForTheGap) {
    link.SetReplyGapLimit(40);
    Connect();
    Send(18, "00000", 5);
    const auto reply = Frame("M80", ReadBlock());
    ASSERT_TRUE(far.Write(std::vector<uint8_t>(reply.begin(), reply.begin() + 60)));
    ExpectRejected(18);
    ExpectNothing();
}

TEST_F(LinkTest, AFrameWhoseChecksumComesAfterAPauseIsTaken) {
    Connect();
    Send(3, nullptr, 0);
    const auto reply = Frame("F24", {'A', 'B'});
    ASSERT_TRUE(far.Write(std::vector<uint8_t>(reply.begin(), reply.end() - 1)));
    Sleep(40);
    ASSERT_TRUE(far.Write(std::vector<uint8_t>(reply.end() - 1, reply.end())));
    ExpectReply(2, 3);
    ExpectNothing();
}

TEST_F(LinkTest, BadRepliesAndLineErrors) {
    Connect();
    Send(3, nullptr, 0);
    ASSERT_TRUE(far.Write(Frame("F25", {'A'})));  // another header: not a reply to this
    ExpectNothing();

    auto bad = Frame("F24", {'A'});
    bad.back() ^= 0x10;  // wrong checksum
    ASSERT_TRUE(far.Write(bad));
    ExpectRejected(3);

    // A line error is noticed with the next end byte; the frame it hit is
    // not trusted, however right its checksum.
    link.m_hPort.Get()->InjectLineErrors(CE_FRAME);
    ASSERT_TRUE(far.Write(Frame("F24", {'Z'})));
    ExpectError(0);
    ExpectRejected(3);
    ASSERT_TRUE(far.Write(Frame("F24", {'Y'})));
    ExpectReply(1, 3);
}

TEST_F(LinkTest, RepliesBeforeAnyCommandAndOversizedRepliesAreNotCopied) {
    Connect();
    ASSERT_TRUE(far.Write(Frame("F24", {'A'})));
    ExpectNothing();  // nobody asked for it

    // More than the 255 payload bytes the reader passes on.
    Send(3, nullptr, 0);
    ASSERT_TRUE(far.Write(Frame("F24", std::vector<uint8_t>(300, 'x'))));
    ExpectRejected(3);
    ExpectNothing();
}

TEST(LinkReplyBuffer, ARepliesLongerThanTheReplyBufferIsRejected) {
    FarEnd far;
    ASSERT_TRUE(far.Ok());
    TestLoader link(4);
    ASSERT_EQ(link.Connect(far.Path().c_str(), CurrentThreadId(), kNotify, 0), 0);
    ASSERT_EQ(link.SendCommand(3, nullptr, 0, INFINITE).bytes, 7);
    ASSERT_TRUE(far.Write(Frame("F24", {'1', '2', '3', '4', '5'})));
    Message m;
    ASSERT_TRUE(NextNotification(&m, 5000));
    EXPECT_EQ(m.wParam, MAKEWPARAM(LINK_REJECTED, 3));
    ASSERT_TRUE(far.Write(Frame("F24", {'1', '2', '3', '4'})));
    ASSERT_TRUE(NextNotification(&m, 5000));
    EXPECT_EQ(m.wParam, MAKEWPARAM(LINK_REPLY, 4));
    EXPECT_EQ(link.Close(), 0);
}

TEST_F(LinkTest, NoNotificationAfterCloseAndNoThreadLeft) {
    Connect();
    Send(3, nullptr, 0);
    EXPECT_EQ(link.Close(), 0);
    EXPECT_TRUE(ThreadCountReturnsTo(threadsBefore));
    EXPECT_FALSE(link.m_hReader);
    EXPECT_FALSE(link.m_hListener);
    ASSERT_TRUE(far.Write(Frame("F24", {'A'})));
    ExpectNothing();
    EXPECT_EQ(link.Close(), 0);  // idle: nothing to do

    // And it connects again.
    Connect();
    Send(3, nullptr, 0);
    ASSERT_TRUE(far.Write(Frame("F24", {'B'})));
    ExpectReply(1, 3);
}

TEST_F(LinkTest, ConnectWhileConnectedChangesNothing) {
    Connect();
    const ThreadId reader = link.m_dwReaderThread;
    EXPECT_EQ(link.Connect(far.Path().c_str(), CurrentThreadId(), kNotify, 0), 1247);
    EXPECT_EQ(link.m_dwReaderThread, reader);
    EXPECT_EQ(ThreadCount(), threadsBefore + 3);
    Send(3, nullptr, 0);
    ASSERT_TRUE(far.Write(Frame("F24", {'A'})));
    ExpectReply(1, 3);
}

TEST_F(LinkTest, ConnectWithoutANameOpensCom1) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("arvelo-link-" + std::to_string(getpid()));
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ASSERT_TRUE(LinkComPort("COM1", far.Path(), nullptr));
    EXPECT_EQ(link.Connect(nullptr, CurrentThreadId(), kNotify, 0), 0);
    std::filesystem::remove_all(dir);
    unsetenv("XDG_CONFIG_HOME");
    Send(3, nullptr, 0);
    ASSERT_TRUE(far.Write(Frame("F24", {'A'})));
    ExpectReply(1, 3);
}

TEST_F(LinkTest, FailedConnectsLeaveTheLinkIdle) {
    EXPECT_EQ(link.Connect("/dev/no-such-port", CurrentThreadId(), kNotify, 0), 2);
    EXPECT_FALSE(link.m_hReader);
    EXPECT_TRUE(link.m_hPort == nullptr);
    EXPECT_TRUE(ThreadCountReturnsTo(threadsBefore));

    // A port whose set-up fails right after it opened is released whole.
    for (const SerialPort::SetupStep step :
         {SerialPort::SetupStep::SetupComm, SerialPort::SetupStep::SetCommState,
          SerialPort::SetupStep::SetCommMask}) {
        SerialPort::InjectSetupFailure(step, ERROR_INVALID_PARAMETER);
        const uint64_t start = TickCount();
        EXPECT_EQ(link.Connect(far.Path().c_str(), CurrentThreadId(), kNotify, 0), 87);
        EXPECT_LT(TickCount() - start, 2000u);
        EXPECT_FALSE(link.m_hReader);
        EXPECT_TRUE(link.m_hPort == nullptr);
        EXPECT_TRUE(ThreadCountReturnsTo(threadsBefore));
    }
    Connect();  // the port was released
}

TEST_F(LinkTest, ALostPortNeitherSpinsNorFloodsTheClient) {
    Connect();
    Send(3, nullptr, 0);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    far.Hangup();
    Message m;
    int notifications = 0;
    while (NextNotification(&m, 300)) {
        ++notifications;
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(notifications, 1);  // the one that says the port stopped working
    EXPECT_EQ(LOWORD(m.wParam), LINK_GONE);
    EXPECT_TRUE(link.PortLost());
    const auto cpuUs = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec +
               r.ru_stime.tv_usec;
    };
    EXPECT_LT(cpuUs(after) - cpuUs(before), 100000L);  // far less than the 300 ms waited
}

TEST(Listener, PostsEachEventSetWithTheDefaultMessageWhenGivenNone) {
    CSerialWnd::RegisterDefaultComMsg();
    const uint32_t defaultMessage = CSerialWnd::DefaultComMsg();
    EXPECT_EQ(defaultMessage, RegisterWindowMessage("CSerialWnd_DefaultComMsg"));
    EXPECT_GE(defaultMessage, 0xC000u);

    FarEnd far;
    ASSERT_TRUE(far.Ok());
    CSerialWnd port;
    Message m;
    PeekMessage(&m, 0, 0, PM_NOREMOVE);  // this thread needs a queue before the listener posts
    ASSERT_EQ(port.OpenWithListener(far.Path().c_str(), CurrentThreadId(), 0, 42), 0);
    EXPECT_EQ(port.OpenWithListener(far.Path().c_str(), CurrentThreadId(), 0, 42), 1247);
    ASSERT_TRUE(far.Write("x"));  // the mask after Open holds EV_RXCHAR
    ASSERT_TRUE(WaitMessage(5000));
    ASSERT_TRUE(PeekMessage(&m, defaultMessage, defaultMessage, PM_REMOVE));
    EXPECT_EQ(m.wParam, EV_RXCHAR);
    EXPECT_EQ(m.lParam, 42);
    EXPECT_EQ(port.Close(), 0);
}

// A reader held at its start, so that its queue can be filled up.
class HeldLoader : public TestLoader {
  public:
    explicit HeldLoader(Event& release) : release_(release) {}
    uint32_t ReaderLoop() override {
        WaitForSingle(release_, INFINITE);
        return CSerialLoader::ReaderLoop();
    }

  private:
    Event& release_;  // outlives the loader and so its reader
};

TEST(LinkStop, AReaderThatRefusesTheQuitRequestIsEndedByTheDestructor) {
    FarEnd far;
    ASSERT_TRUE(far.Ok());
    const int threadsBefore = ThreadBaseline();
    Event release;
    {
        HeldLoader link(release);
        ASSERT_EQ(link.Connect(far.Path().c_str(), CurrentThreadId(), kNotify, 0), 0);
        while (PostThreadMessage(link.m_dwReaderThread, 1, 0, 0)) {
        }
        const uint64_t start = TickCount();
        EXPECT_EQ(link.Close(), 0);  // all four quit requests are refused
        EXPECT_LT(TickCount() - start, 1000u);
        EXPECT_FALSE(link.m_hReader);
        EXPECT_EQ(ThreadCount(), threadsBefore + 1);  // the reader still runs
        release.Set();
    }
    EXPECT_TRUE(ThreadCountReturnsTo(threadsBefore));
}

}  // namespace
