// The serial device: how the read time-outs end a read, then, over a line
// (a pseudo-terminal; under Wine two COM ports joined, see FarEnd.h), open
// rules, the event character, read time-out modes, purge, line errors, hang-up
// and close.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/Errors.h"
#include "platform/PortDirectory.h"
#include "platform/SerialPort.h"
#include "platform/SerialSettings.h"
#include "support/FarEnd.h"

using namespace platform;

namespace {

// Ours, not the ones windows.h (through FarEnd.h) declares on Windows.
using platform::COMMTIMEOUTS;
using platform::DCB;
using platform::Sleep;

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(far.Ok());
        port = SerialPort::Open(far.Path());
        ASSERT_TRUE(port) << LastError();
        block.hEvent = &done;
    }

    void SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
        COMMTIMEOUTS t;
        ASSERT_TRUE(port->GetCommTimeouts(&t));
        t.ReadIntervalTimeout = interval;
        t.ReadTotalTimeoutMultiplier = multiplier;
        t.ReadTotalTimeoutConstant = constant;
        ASSERT_TRUE(port->SetCommTimeouts(t));
    }

    void ArmEventCharacter(uint8_t character, uint32_t mask) {
        DCB dcb;
        ASSERT_TRUE(port->GetCommState(&dcb));
        dcb.EvtChar = character;
        ASSERT_TRUE(port->SetCommState(dcb));
        ASSERT_TRUE(port->SetCommMask(mask));
    }

    FarEnd far;
    std::shared_ptr<SerialPort> port;
    Event done;
    Overlapped block;
};

TEST(SerialReadRule, FollowsTheWin32TimeOutModes) {
    struct Case {
        uint32_t interval, multiplier, constant, size;
        ReadRule rule;
    };
    const Case cases[] = {
        {MAXDWORD, 0, 0, 8, {true, false, 0, 0}},             // at once, with what is there
        {0, 0, 0, 8, {false, false, 0, 0}},                   // until the count has come
        {0, 10, 40, 8, {false, false, 120, 0}},               // total: per byte plus constant
        {30, 0, 0, 8, {false, false, 0, 30}},                 // the gap between bytes only
        {MAXDWORD, 0, 50, 8, {false, false, 50, 0}},          // a MAXDWORD gap is no limit
        {MAXDWORD, MAXDWORD, 100, 8, {false, true, 100, 0}},  // the first byte, or the constant
        // A MAXDWORD constant is not the first-byte mode but a plain total.
        {MAXDWORD, MAXDWORD, MAXDWORD, 1, {false, false, 2ull * MAXDWORD, 0}},
        {0, 0x10000, 0, 0x10000, {false, false, 1ull << 32, 0}},  // no 32-bit wrap to "none"
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.interval << "/" << c.multiplier << "/" << c.constant
                                        << " for " << c.size);
        COMMTIMEOUTS t;
        t.ReadIntervalTimeout = c.interval;
        t.ReadTotalTimeoutMultiplier = c.multiplier;
        t.ReadTotalTimeoutConstant = c.constant;
        const ReadRule rule = ReadRuleFor(t, c.size);
        EXPECT_EQ(rule.atOnce, c.rule.atOnce);
        EXPECT_EQ(rule.endsAtFirstByte, c.rule.endsAtFirstByte);
        EXPECT_EQ(rule.total, c.rule.total);
        EXPECT_EQ(rule.interval, c.rule.interval);
    }
}

TEST(SerialPortOpen, ReportsMissingAndNonSerialDevices) {
    for (const char* missing : {"/dev/no-such-port", "not a port name", "COM250"}) {
        EXPECT_FALSE(SerialPort::Open(missing)) << missing;
        EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND) << missing;
    }
#ifndef _WIN32  // on Windows what a device that is no serial port answers is up to its driver
    EXPECT_FALSE(SerialPort::Open("/dev/null"));
    EXPECT_EQ(LastError(), ERROR_INVALID_FUNCTION);
#endif
}

TEST(SerialPortOpen, ASecondOpenIsRefusedUntilTheFirstCloses) {
    if (UnderWine()) {
        GTEST_SKIP() << "Wine lets a second handle open a serial port that is open";
    }
    FarEnd far;
    ASSERT_TRUE(far.Ok());
    auto first = SerialPort::Open(far.Path());
    ASSERT_TRUE(first);
    EXPECT_FALSE(SerialPort::Open(far.Path()));
    EXPECT_EQ(LastError(), ERROR_ACCESS_DENIED);
    first->Close();
    EXPECT_TRUE(SerialPort::Open(far.Path()));  // free again after Close
}

#ifdef _WIN32
TEST(SerialPortOpen, TakesComNamesAsTheProgramStoresThem) {
    // Windows resolves COM names itself; the program stores them with a colon.
    FarEnd far;
    ASSERT_TRUE(far.Ok());
    EXPECT_TRUE(SerialPort::Open(far.Path() + ":")) << LastError();
}
#else
TEST(SerialPortOpen, ResolvesComNamesThroughThePortDirectory) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("arvelo-ports-" + std::to_string(getpid()));
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    FarEnd far;
    ASSERT_TRUE(far.Ok());
    ASSERT_TRUE(LinkComPort("COM7", far.Path(), nullptr));
    auto port = SerialPort::Open("COM7:");
    EXPECT_TRUE(port);
    std::filesystem::remove_all(dir);
    unsetenv("XDG_CONFIG_HOME");
}
#endif

TEST_F(SerialPortTest, TheEventCharacterEndsAWaitAndOtherBytesDoNot) {
    ArmEventCharacter(0x03, EV_RXFLAG);
    uint32_t events = 0xFFFF;
    ASSERT_FALSE(port->WaitCommEvent(&events, &block));
    ASSERT_EQ(LastError(), ERROR_IO_PENDING);
    EXPECT_FALSE(HasOverlappedIoCompleted(&block));
    ASSERT_TRUE(far.Write("ab"));
    EXPECT_EQ(WaitForSingle(done, FarEnd::kTravelMs), WAIT_TIMEOUT);
    ASSERT_TRUE(far.Write(std::vector<uint8_t>{0x03, 'c'}));
    ASSERT_EQ(WaitForSingle(done, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(events, EV_RXFLAG);
    uint32_t n = 99;
    EXPECT_TRUE(GetOverlappedResult(&block, &n, false));

    // The bytes wait in the queue, in order.
    SetReadTimeouts(MAXDWORD, 0, 0);
    uint8_t buffer[16];
    ASSERT_TRUE(port->ReadFile(buffer, sizeof buffer, &n, &block));
    ASSERT_EQ(n, 4u);
    EXPECT_EQ(std::string(buffer, buffer + 4), std::string("ab\x03"
                                                           "c"));
}

TEST_F(SerialPortTest, EventsWithoutAPendingWaitAreKeptAndAMaskChangeEndsAWait) {
    ArmEventCharacter(0x03, EV_RXCHAR | EV_RXFLAG);
    ASSERT_TRUE(far.Write("x\x03"));
    Sleep(FarEnd::kTravelMs);
    uint32_t events = 0;
    EXPECT_TRUE(port->WaitCommEvent(&events, &block));  // completes at once
    EXPECT_EQ(events, EV_RXCHAR | EV_RXFLAG);
    EXPECT_EQ(WaitForSingle(done, 0), WAIT_OBJECT_0);

    ASSERT_FALSE(port->WaitCommEvent(&events, &block));
    ASSERT_EQ(LastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingle(done, 0), WAIT_TIMEOUT);  // reset when the wait began
    ASSERT_TRUE(port->SetCommMask(EV_RXFLAG));
    ASSERT_EQ(WaitForSingle(done, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(events, 0u);
    uint32_t mask = 0;
    EXPECT_TRUE(port->GetCommMask(&mask));
    EXPECT_EQ(mask, EV_RXFLAG);
}

TEST_F(SerialPortTest, ReadTimeoutModes) {
    uint8_t buffer[8];
    uint32_t n = 99;
    // Return at once with what is there, even nothing.
    SetReadTimeouts(MAXDWORD, 0, 0);
    EXPECT_TRUE(port->ReadFile(buffer, sizeof buffer, &n, &block));
    EXPECT_EQ(n, 0u);

    // Block until the count has come.
    SetReadTimeouts(0, 0, 0);
    ASSERT_FALSE(port->ReadFile(buffer, 5, &n, &block));
    ASSERT_EQ(LastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(far.Write("abc"));
    EXPECT_EQ(WaitForSingle(done, FarEnd::kTravelMs), WAIT_TIMEOUT);
    EXPECT_FALSE(GetOverlappedResult(&block, &n, false));
    EXPECT_EQ(LastError(), ERROR_IO_INCOMPLETE);
    ASSERT_TRUE(far.Write("defg"));
    ASSERT_TRUE(GetOverlappedResult(&block, &n, true));
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::string(buffer, buffer + 5), "abcde");

    // A total time-out ends the read with what came.
    SetReadTimeouts(0, 0, 40);
    const uint64_t start = TickCount();
    ASSERT_FALSE(port->ReadFile(buffer, sizeof buffer, &n, &block));
    ASSERT_TRUE(GetOverlappedResult(&block, &n, true));
    EXPECT_GE(TickCount() - start, 39u);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(std::string(buffer, buffer + 2), "fg");

    // An interval time-out ends it once bytes stop coming.
    SetReadTimeouts(30, 0, 0);
    ASSERT_FALSE(port->ReadFile(buffer, sizeof buffer, &n, &block));
    ASSERT_TRUE(far.Write("hi"));
    ASSERT_TRUE(GetOverlappedResult(&block, &n, true));
    EXPECT_EQ(n, 2u);
}

TEST_F(SerialPortTest, PurgeDropsReceivedBytesAndCloseCancelsPendingWork) {
    SetReadTimeouts(MAXDWORD, 0, 0);
    ASSERT_TRUE(far.Write("stale"));
    Sleep(FarEnd::kTravelMs);
    ASSERT_TRUE(port->PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR));
    uint8_t buffer[8];
    uint32_t n = 99;
    EXPECT_TRUE(port->ReadFile(buffer, sizeof buffer, &n, &block));
    EXPECT_EQ(n, 0u);

    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
    uint32_t events = 0xFFFF;
    ASSERT_FALSE(port->WaitCommEvent(&events, &block));
    port->Close();
    EXPECT_EQ(WaitForSingle(done, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(&block, &n, false));
    EXPECT_EQ(LastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(events, 0u);
    EXPECT_FALSE(port->PurgeComm(PURGE_RXCLEAR));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SerialPortTest, LineErrorsAreReportedOnceAndRaiseEvErr) {
    ASSERT_TRUE(port->SetCommMask(EV_ERR | EV_BREAK));
    uint32_t events = 0;
    ASSERT_FALSE(port->WaitCommEvent(&events, &block));
    port->InjectLineErrors(CE_FRAME | CE_OVERRUN);
    ASSERT_EQ(WaitForSingle(done, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(events, EV_ERR);
    uint32_t errors = 0;
    ASSERT_TRUE(port->ClearCommError(&errors));
    EXPECT_EQ(errors, CE_FRAME | CE_OVERRUN);
    ASSERT_TRUE(port->ClearCommError(&errors));
    EXPECT_EQ(errors, 0u);
    port->InjectLineErrors(CE_BREAK);
    EXPECT_TRUE(port->WaitCommEvent(&events, &block));
    EXPECT_EQ(events, EV_BREAK);
}

TEST_F(SerialPortTest, AHangUpFailsPendingAndLaterCalls) {
#ifdef _WIN32
    GTEST_SKIP() << "a COM port cannot be hung up from the Windows side of the line";
#else
    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
    uint32_t events = 0xFFFF;
    ASSERT_FALSE(port->WaitCommEvent(&events, &block));
    far.Hangup();
    ASSERT_EQ(WaitForSingle(done, 5000), WAIT_OBJECT_0);
    uint32_t n = 0;
    EXPECT_FALSE(GetOverlappedResult(&block, &n, false));
    EXPECT_EQ(LastError(), ERROR_GEN_FAILURE);
    EXPECT_EQ(events, 0u);
    EXPECT_FALSE(port->WaitCommEvent(&events, &block));
    EXPECT_EQ(LastError(), ERROR_GEN_FAILURE);
    uint8_t byte = 0;
    EXPECT_FALSE(port->WriteFile(&byte, 1, &n, &block));
    EXPECT_EQ(LastError(), ERROR_GEN_FAILURE);
#endif
}

TEST_F(SerialPortTest, TheControlBlockRoundTripsAndInvalidValuesAreRejected) {
    DCB dcb;
    ASSERT_TRUE(port->GetCommState(&dcb));
    dcb.BaudRate = 19200;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.fParity = true;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutX = true;
    dcb.fInX = true;
    ASSERT_TRUE(port->SetCommState(dcb));
    DCB back;
    ASSERT_TRUE(port->GetCommState(&back));
    EXPECT_EQ(back.BaudRate, 19200u);
    EXPECT_EQ(back.ByteSize, 7);
    EXPECT_EQ(back.Parity, EVENPARITY);
    EXPECT_TRUE(back.fParity);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
    EXPECT_TRUE(back.fOutX && back.fInX);

    for (auto spoil : {+[](DCB& d) { d.BaudRate = 12345; }, +[](DCB& d) { d.ByteSize = 9; },
                       +[](DCB& d) { d.Parity = 5; }, +[](DCB& d) { d.StopBits = ONE5STOPBITS; }}) {
        DCB bad = back;
        spoil(bad);
        EXPECT_FALSE(port->SetCommState(bad));
        EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER);
    }
    ASSERT_TRUE(port->GetCommState(&dcb));
    EXPECT_EQ(dcb.BaudRate, 19200u);  // a rejected block changes nothing
}

TEST_F(SerialPortTest, APendingWriteCompletesWhenTheFarEndReads) {
    // More than a pseudo-terminal buffers, so the write has to wait for the reader.
    std::vector<uint8_t> data(256 * 1024, 'w');
    uint32_t n = 0;
    ASSERT_FALSE(port->WriteFile(data.data(), static_cast<uint32_t>(data.size()), &n, &block));
    ASSERT_EQ(LastError(), ERROR_IO_PENDING);
    uint8_t byte = 0;
    EXPECT_FALSE(port->WriteFile(&byte, 1, &n, &block));
    EXPECT_EQ(LastError(), ERROR_BUSY);
    const auto received = far.Read(data.size(), 20000);
    EXPECT_EQ(received.size(), data.size());
    ASSERT_TRUE(GetOverlappedResult(&block, &n, true));
    EXPECT_EQ(n, data.size());
}

}  // namespace
