#pragma once
// A COM port with overlapped I/O: line settings, flow control, read modes,
// event mask and trigger character, reads, writes, waits for port events.
// Every operation returns a Win32 error code (0 for success) and keeps it in
// m_lLastResult.

#include <atomic>
#include <cstdint>

#include "platform/Errors.h"
#include "platform/Event.h"
#include "platform/SerialPort.h"
#include "platform/SharedHandle.h"
#include "platform/Time.h"

// SetFlowControl modes.
constexpr int FLOW_NONE = 0;
constexpr int FLOW_HARDWARE = 1;
constexpr int FLOW_SOFTWARE = 2;

// SetReadMode modes.
constexpr int READ_NONBLOCKING = 0;
constexpr int READ_BLOCKING = 1;

class CSerial {
  public:
    CSerial();
    virtual ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // lpszDevice: "COMn" or a device path. Queue sizes 0 keep the driver's.
    virtual int32_t Open(const char* lpszDevice, uint32_t dwInQueue = 0, uint32_t dwOutQueue = 0);
    virtual int32_t Close();
    virtual int32_t SetLineSettings(uint32_t dwBaudrate, uint8_t bDataBits, uint8_t bParity,
                                    uint8_t bStopBits);
    virtual int32_t SetTriggerChar(uint8_t bEventChar, bool fAdjustMask);
    virtual int32_t SetEventMask(uint32_t dwMask);
    // The event set lands in m_dwEvents. With the caller's block a pending
    // wait returns 0 at once; the caller waits for the block's event.
    virtual int32_t WaitForEvent(platform::Overlapped* lpOverlapped, uint32_t dwTimeout);
    virtual int32_t SetFlowControl(int eFlowControl);
    virtual int32_t SetReadMode(int eReadMode);
    virtual int32_t GetBaudRate();
    virtual int32_t GetDataBits();
    virtual int32_t GetParity();
    virtual int32_t GetStopBits();
    virtual int32_t GetFlowControl();
    virtual uint32_t GetEventMask();
    virtual uint8_t GetTriggerChar();
    // Without a control block these wait up to dwTimeout (platform::INFINITE:
    // no limit) and return ERROR_TIMEOUT when it runs out, with nothing left
    // pending and the bytes moved so far in the out-count.
    virtual int32_t Write(const void* pData, uint32_t iLen, uint32_t* pdwWritten = nullptr,
                          platform::Overlapped* lpOverlapped = nullptr,
                          uint32_t dwTimeout = platform::INFINITE);
    virtual int32_t WriteText(const char* pszText, uint32_t* pdwWritten = nullptr,
                              platform::Overlapped* lpOverlapped = nullptr,
                              uint32_t dwTimeout = platform::INFINITE);
    virtual int32_t Read(void* pData, uint32_t iLen, uint32_t* pdwRead = nullptr,
                         platform::Overlapped* lpOverlapped = nullptr,
                         uint32_t dwTimeout = platform::INFINITE);

    // Discards both driver buffers; returns m_lLastResult, not cleared first.
    int32_t Purge();
    // When the port last received a byte (platform::TickCount), 0 when never
    // or closed: a reply may be on its way even before its end byte came.
    uint64_t LastByteTime() const;
    // The low 16 bits of m_dwEvents, which are then set to 0xFFFF again.
    uint16_t TakeEvent();

  protected:
    // Whether the port is open after Open returned result: Open opened it, or
    // found it open already (1247), which counts as success.
    static bool Opened(int32_t result) {
        return result == 0 || result == static_cast<int32_t>(platform::ERROR_ALREADY_INITIALIZED);
    }
    int32_t SetResult(int32_t error);
    int32_t RecordError();  // the calling thread's last platform error

    std::atomic<int32_t> m_lLastResult;
    platform::SharedHandle<platform::SerialPort> m_hPort;
    uint32_t m_dwEvents;
    platform::SharedHandle<platform::Event> m_hevtOverlapped;  // writes and event waits
    platform::SharedHandle<platform::Event> m_hevtRead;        // reads, so no read disturbs a write

  private:
    template <class Start>
    int32_t Transfer(platform::SerialPort& port,
                     const platform::SharedHandle<platform::Event>& event,
                     platform::Overlapped* lpOverlapped, uint32_t dwTimeout, uint32_t* pdwCount,
                     Start start);
    template <class Change>
    int32_t ChangeState(Change change);
    bool QueryState(platform::DCB* dcb);
};
