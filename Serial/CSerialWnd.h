#pragma once
// CSerial with a listener thread that waits for port events and posts each
// event set, with the line error flags, to a thread.

#include <atomic>
#include <cstdint>
#include <memory>

#include "Serial/CSerial.h"
#include "Serial/LinkMessages.h"
#include "platform/Event.h"
#include "platform/Thread.h"

class CSerialWnd : public CSerial {
  public:
    CSerialWnd();
    ~CSerialWnd() override;

    // Ends the listener, then closes the port.
    int32_t Close() override;
    // Opens the port and starts the listener, which posts nNotifyMsg (0: the
    // default message) to dwNotifyThread for each port event set, and once
    // with the low word LINK_GONE when the port stops working. 1247 when a
    // listener runs already.
    virtual int32_t OpenWithListener(const char* lpszDevice, platform::ThreadId dwNotifyThread,
                                     uint32_t nNotifyMsg = 0, int32_t lParam = 0,
                                     uint32_t dwInQueue = 0, uint32_t dwOutQueue = 0);
    virtual uint32_t ListenerLoop();

    // Registers "CSerialWnd_DefaultComMsg" once; the program entry calls it at
    // start-up.
    static void RegisterDefaultComMsg();
    static uint32_t DefaultComMsg();

    // The open port stopped working; it stays so until it is closed.
    bool PortLost() const { return m_bPortLost.load(); }

  protected:
    std::unique_ptr<platform::Thread> m_hListener;
    std::shared_ptr<platform::Event> m_hevtStop;
    std::shared_ptr<platform::Event> m_hevtComm;
    platform::ThreadId m_dwNotifyThread;
    uint32_t m_nNotifyMsg;
    int32_t m_lNotifyParam;

  private:
    static uint32_t ListenerThread(void* object);

    std::atomic<bool> m_bPortLost{false};
};
