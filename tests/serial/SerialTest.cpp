// CSerial on a pseudo-terminal, and CSerialLoader's frame layer.

#include <gtest/gtest.h>

#include <numeric>

#include "Serial/CSerialLoader.h"
#include "platform/Errors.h"
#include "support/FarEnd.h"
#include "support/TestLoader.h"

using namespace platform;

void PrintTo(const LinkResult& result, std::ostream* out) {
    static const char* const kNames[] = {"Ok", "BadFrame", "BadChecksum", "NoMemory"};
    *out << kNames[static_cast<int>(result.status)] << " " << result.bytes;
}

namespace {

constexpr LinkResult Ok(int32_t bytes) {
    return {LinkStatus::Ok, bytes};
}
constexpr LinkResult kBadFrame{LinkStatus::BadFrame};

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(CSerial, OpenFailuresLeaveTheObjectClosedWithNoEvent) {
    TestLoader serial;
    EXPECT_EQ(serial.Open("/dev/no-such-port"), 2);
    EXPECT_TRUE(serial.m_hPort == nullptr);
    EXPECT_TRUE(serial.m_hevtOverlapped == nullptr);

    FarEnd far;
    ASSERT_TRUE(far.Ok());
    CSerial holder;
    ASSERT_EQ(holder.Open(far.Path().c_str()), 0);
    EXPECT_EQ(serial.Open(far.Path().c_str()), 5);
    EXPECT_TRUE(serial.m_hPort == nullptr);
    EXPECT_TRUE(serial.m_hevtOverlapped == nullptr);
    EXPECT_EQ(serial.m_lLastResult, 5);
}

TEST(CSerial, OpenTwiceGives1247AndChangesNothing) {
    FarEnd far;
    ASSERT_TRUE(far.Ok());
    TestLoader serial;
    ASSERT_EQ(serial.Open(far.Path().c_str(), 64, 64), 0);
    const auto port = serial.m_hPort.Get();
    EXPECT_EQ(serial.SetLineSettings(4800, 7, 1, 2), 0);
    EXPECT_EQ(serial.Open(far.Path().c_str()), 1247);
    EXPECT_EQ(serial.m_hPort.Get(), port);
    EXPECT_EQ(serial.GetBaudRate(), 4800);
    EXPECT_EQ(serial.Close(), 0);
    EXPECT_TRUE(serial.m_hPort == nullptr);
    EXPECT_EQ(serial.Close(), 0);
}

TEST(CSerial, OpenAppliesTheDefaultsAndTheSettersChangeOnlyTheirFields) {
    FarEnd far;
    ASSERT_TRUE(far.Ok());
    TestLoader serial;
    ASSERT_EQ(serial.Open(far.Path().c_str()), 0);
    EXPECT_EQ(serial.GetBaudRate(), 9600);
    EXPECT_EQ(serial.GetDataBits(), 8);
    EXPECT_EQ(serial.GetParity(), 0);
    EXPECT_EQ(serial.GetStopBits(), 0);
    EXPECT_EQ(serial.GetFlowControl(), FLOW_NONE);
    EXPECT_EQ(serial.GetEventMask(), EV_RXCHAR | EV_BREAK | EV_ERR);

    EXPECT_EQ(serial.SetFlowControl(FLOW_HARDWARE), 0);
    EXPECT_EQ(serial.GetFlowControl(), FLOW_HARDWARE);
    EXPECT_EQ(serial.SetFlowControl(FLOW_SOFTWARE), 0);
    EXPECT_EQ(serial.GetFlowControl(), FLOW_SOFTWARE);
    EXPECT_EQ(serial.SetLineSettings(19200, 7, 2, 0), 0);
    EXPECT_EQ(serial.GetParity(), 2);
    EXPECT_EQ(serial.GetFlowControl(), FLOW_SOFTWARE);
    EXPECT_EQ(serial.SetLineSettings(12345, 8, 0, 0),
              static_cast<int32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(serial.GetBaudRate(), 19200);

    EXPECT_EQ(serial.SetTriggerChar(0x03, true), 0);
    EXPECT_EQ(serial.GetTriggerChar(), 0x03);
    EXPECT_EQ(serial.GetEventMask(), EV_RXCHAR | EV_RXFLAG | EV_BREAK | EV_ERR);
    EXPECT_EQ(serial.SetTriggerChar(0x04, false), 0);
    EXPECT_EQ(serial.GetTriggerChar(), 0x04);

    // The parity byte counts only while parity is checked.
    DCB dcb;
    auto port = serial.m_hPort.Get();
    ASSERT_TRUE(port->GetCommState(&dcb));
    dcb.Parity = ODDPARITY;
    dcb.fParity = false;
    ASSERT_TRUE(port->SetCommState(dcb));
    EXPECT_EQ(serial.GetParity(), 0);
}

TEST(CSerial, QueriesOnAClosedPortFailAndLeave6) {
    TestLoader serial;
    EXPECT_EQ(serial.GetBaudRate(), -1);
    EXPECT_EQ(serial.m_lLastResult, 6);
    serial.m_lLastResult = 0;
    EXPECT_EQ(serial.GetDataBits(), -1);
    EXPECT_EQ(serial.GetParity(), -1);
    EXPECT_EQ(serial.GetStopBits(), -1);
    EXPECT_EQ(serial.GetFlowControl(), -1);
    EXPECT_EQ(serial.GetEventMask(), 0u);
    EXPECT_EQ(serial.GetTriggerChar(), 0);
    EXPECT_EQ(serial.m_lLastResult, 6);
    uint8_t byte = 0;
    uint32_t n = 9;
    EXPECT_EQ(serial.Write(&byte, 1, &n), 6);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(serial.Read(&byte, 1, &n), 6);
    EXPECT_EQ(serial.WaitForEvent(nullptr, 0), 6);
    EXPECT_EQ(serial.SetEventMask(1), 6);
    EXPECT_EQ(serial.SetReadMode(READ_BLOCKING), 6);
    EXPECT_EQ(serial.Purge(), 6);
    EXPECT_EQ(serial.SendCommand(3, nullptr, 0, INFINITE), Ok(0));
}

TEST(CSerial, FiniteTimeOutsLeaveNothingPending) {
    FarEnd far;
    ASSERT_TRUE(far.Ok());
    CSerial serial;
    ASSERT_EQ(serial.Open(far.Path().c_str()), 0);
    ASSERT_EQ(serial.SetReadMode(READ_BLOCKING), 0);
    uint8_t buffer[4];
    uint32_t n = 9;
    ASSERT_TRUE(far.Write("ab"));
    EXPECT_EQ(serial.Read(buffer, 4, &n, nullptr, 50), static_cast<int32_t>(ERROR_TIMEOUT));
    EXPECT_EQ(n, 2u);  // what came before the time-out is not lost
    ASSERT_TRUE(far.Write("cdef"));
    EXPECT_EQ(serial.Read(buffer, 4, &n, nullptr, 5000), 0);  // not ERROR_BUSY
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::string(buffer, buffer + 4), "cdef");

    std::vector<uint8_t> big(256 * 1024, 'x');
    EXPECT_EQ(serial.Write(big.data(), static_cast<uint32_t>(big.size()), &n, nullptr, 50),
              static_cast<int32_t>(ERROR_TIMEOUT));
    EXPECT_LT(n, big.size());
    EXPECT_EQ(far.Read(n, 2000).size(), n);  // make room; no rest of the big write follows
    EXPECT_EQ(serial.WriteText("ok", &n, nullptr, 5000), 0);
    EXPECT_EQ(far.Read(3, 200), std::vector<uint8_t>({'o', 'k'}));
    EXPECT_EQ(n, 2u);
    ASSERT_EQ(serial.SetEventMask(EV_RXFLAG), 0);  // forgets the characters that came
    EXPECT_EQ(serial.WaitForEvent(nullptr, 20), static_cast<int32_t>(ERROR_TIMEOUT));
}

TEST(CSerialDeathTest, MisuseStopsTheProgramNamingTheCondition) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    CSerial serial;
    EXPECT_DEATH(serial.SetFlowControl(3),
                 "Assertion failed: false, file .*CSerial.cpp, line [0-9]+");
    EXPECT_DEATH(serial.SetReadMode(-1), "false");
    FarEnd far;
    ASSERT_TRUE(far.Ok());
    ASSERT_EQ(serial.Open(far.Path().c_str()), 0);
    Overlapped block;
    uint8_t byte = 0;
    EXPECT_DEATH(serial.Write(&byte, 1, nullptr, &block, 0), "!lpOverlapped \\|\\| pdwWritten");
    EXPECT_DEATH(serial.Read(&byte, 1, nullptr, &block, 0), "!lpOverlapped \\|\\| pdwRead");
    block.Internal = STATUS_PENDING;
    uint32_t n = 0;
    EXPECT_DEATH(serial.Read(&byte, 1, &n, &block, 0),
                 "HasOverlappedIoCompleted\\(lpOverlapped\\)");
}

TEST(FrameChecksum, SumsUnsignedBytes) {
    const uint8_t bytes[] = {0x01, 0xFF, 0x80};
    EXPECT_EQ(CSerialLoader::FrameChecksum(bytes, 3), 0x180);
    EXPECT_EQ(CSerialLoader::FrameChecksum(bytes, 0), 0);
    EXPECT_EQ(CSerialLoader::FrameChecksum(nullptr, 3), 0);
}

class SendCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(far.Ok());
        ASSERT_EQ(link.Open(far.Path().c_str()), 0);
    }
    // What the far end received: expected bytes, and nothing more.
    std::vector<uint8_t> Sent(size_t expected) {
        auto bytes = far.Read(expected, 2000);
        const auto more = far.Read(1, 20);
        bytes.insert(bytes.end(), more.begin(), more.end());
        return bytes;
    }
    // Bytes the far end sent that are still waiting in the port.
    uint32_t Waiting() {
        uint8_t buffer[64];
        uint32_t n = 0;
        link.Read(buffer, sizeof buffer, &n);
        return n;
    }
    FarEnd far;
    TestLoader link;
};

TEST_F(SendCommandTest, FramesTheExamples) {
    EXPECT_EQ(link.m_status, LinkStatus::Ok);
    EXPECT_EQ(link.SendCommand(3, nullptr, 0, INFINITE), Ok(7));
    EXPECT_EQ(Sent(7), (std::vector<uint8_t>{0x01, 'F', '2', '4', 0x02, 0x03, 0xB2}));
    EXPECT_EQ(link.SendCommand(14, nullptr, 0, INFINITE), Ok(5));
    EXPECT_EQ(Sent(5), (std::vector<uint8_t>{0x01, 'E', 0x02, 0x03, 0x4B}));
    EXPECT_EQ(link.m_cLastCommand, 14);
    EXPECT_EQ(link.SendCommand(18, "00120", 5, INFINITE), Ok(12));
    EXPECT_EQ(Sent(12), Frame("M81", Bytes("00120")));
    EXPECT_EQ(link.SendCommand(20, "@Wait@          ", 16, INFINITE), Ok(23));
    EXPECT_EQ(Sent(23), Frame("|10", Bytes("@Wait@          ")));
}

TEST_F(SendCommandTest, AZeroBytePadsThePayloadWithZeros) {
    const char payload[] = {'0', '0', '\0', '4', '5'};
    EXPECT_EQ(link.SendCommand(19, payload, 5, INFINITE), Ok(12));
    EXPECT_EQ(Sent(12), Frame("{10", {'0', '0', 0, 0, 0}));
}

TEST_F(SendCommandTest, RejectsBadCodesAndPayloadsWithoutSending) {
    ASSERT_TRUE(far.Write("junk"));
    Sleep(30);
    EXPECT_EQ(link.SendCommand(21, nullptr, 0, INFINITE), kBadFrame);
    EXPECT_EQ(link.SendCommand(-1, nullptr, 0, INFINITE), kBadFrame);
    EXPECT_EQ(Waiting(), 4u);  // not purged
    EXPECT_EQ(link.m_cLastCommand, -1);

    ASSERT_TRUE(far.Write("junk"));
    Sleep(30);
    EXPECT_EQ(link.SendCommand(0, nullptr, 0, INFINITE), kBadFrame);
    EXPECT_EQ(Waiting(), 4u);  // a send never purges: a reply may be on its way
    EXPECT_EQ(link.SendCommand(18, "00000", 0, INFINITE), kBadFrame);
    EXPECT_EQ(link.m_cLastCommand, -1);

    // A frame holds 160 bytes: 153 payload bytes fit after a 3-character text.
    std::string payload(154, 'p');
    EXPECT_EQ(link.SendCommand(12, payload.c_str(), 154, INFINITE), kBadFrame);
    EXPECT_EQ(link.SendCommand(12, payload.c_str(), -1, INFINITE), kBadFrame);
    EXPECT_EQ(link.m_cLastCommand, -1);
    EXPECT_TRUE(far.Read(1, 50).empty());
    EXPECT_EQ(link.SendCommand(12, payload.c_str(), 153, INFINITE), Ok(160));
    EXPECT_EQ(Sent(160).size(), 160u);
}

class ParseReplyTest : public ::testing::Test {
  protected:
    LinkResult Parse(int8_t code, const std::vector<uint8_t>& frame, int32_t capacity = 256) {
        dest.assign(static_cast<size_t>(std::max(capacity, 1)), 0xEE);
        return link.ParseReply(code, frame.data(), static_cast<int32_t>(frame.size()), dest.data(),
                               capacity);
    }
    TestLoader link;
    std::vector<uint8_t> dest;
};

TEST_F(ParseReplyTest, GoodReplies) {
    EXPECT_EQ(Parse(3, Frame("F24", Bytes("AB"))), Ok(2));
    EXPECT_EQ(dest[0], 'A');
    EXPECT_EQ(dest[1], 'B');
    EXPECT_EQ(dest[2], 0xEE);
    EXPECT_EQ(Parse(3, Frame("F24", {})), Ok(0));
    EXPECT_EQ(dest[0], 0xEE);
    EXPECT_EQ(Parse(14, Frame("E", Bytes("x"))), Ok(1));
    // The header and end bytes are not looked at.
    auto frame = Frame("F24", Bytes("AB"));
    frame[0] = 0x55;
    frame[4] = 0x66;
    frame.back() = static_cast<uint8_t>(std::accumulate(frame.begin(), frame.end() - 1, 0u) & 0xFF);
    EXPECT_EQ(Parse(3, frame), Ok(2));
}

TEST_F(ParseReplyTest, ReadRepliesAreFixedFramesUnderTheStreamHeader) {
    std::vector<uint8_t> block(128);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 7);  // holds 0x03 and 0x01 too
    }
    auto reply = Frame("M80", block);
    ASSERT_EQ(reply.size(), 135u);
    EXPECT_EQ(Parse(18, reply), Ok(128));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), dest.begin()));
    reply.insert(reply.end(), {9, 8, 7, 6, 5});  // ignored beyond the 135th byte
    EXPECT_EQ(Parse(18, reply), Ok(128));
    EXPECT_EQ(Parse(18, Frame("M81", block)), kBadFrame);
    // Shorter than 135: an ordinary frame.
    EXPECT_EQ(Parse(18, Frame("M80", Bytes("12345"))), Ok(5));
}

TEST_F(ParseReplyTest, BadReplies) {
    EXPECT_EQ(Parse(3, Frame("F25", Bytes("AB"))), kBadFrame);
    auto frame = Frame("F24", Bytes("AB"));
    frame.back() ^= 1;
    EXPECT_EQ(Parse(3, frame), LinkResult{LinkStatus::BadChecksum});
    EXPECT_EQ(Parse(3, {0x01, 'F', '2', '4', 0x02, 0x03}), kBadFrame);  // short
    EXPECT_EQ(Parse(21, Frame("F24", {})), kBadFrame);
    EXPECT_EQ(Parse(-3, Frame("F24", {})), kBadFrame);
    EXPECT_EQ(Parse(3, Frame("F24", {}), 0), kBadFrame);
    EXPECT_EQ(link.ParseReply(3, nullptr, 7, dest.data(), 1), kBadFrame);
    const auto good = Frame("F24", {});
    EXPECT_EQ(link.ParseReply(3, good.data(), 7, nullptr, 1), kBadFrame);
    // Overlong: the payload and a terminating zero must fit the destination.
    EXPECT_EQ(Parse(3, Frame("F24", Bytes("ABCD")), 4), kBadFrame);
    EXPECT_EQ(dest[0], 0xEE);
    EXPECT_EQ(Parse(3, Frame("F24", Bytes("ABC")), 4), Ok(3));
    EXPECT_EQ(Parse(3, Frame("F24", std::vector<uint8_t>(300, 'z'))), kBadFrame);
}

}  // namespace
