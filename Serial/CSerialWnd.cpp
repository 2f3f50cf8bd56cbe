#include "Serial/CSerialWnd.h"

#include "platform/Errors.h"
#include "platform/MessageQueue.h"
#include "platform/Window.h"

using platform::INFINITE;

namespace {

std::atomic<uint32_t> g_defaultComMsg{0};
std::atomic<bool> g_defaultComMsgRegistered{false};

}  // namespace

CSerialWnd::CSerialWnd() : m_dwNotifyThread(0), m_nNotifyMsg(0), m_lNotifyParam(0) {}

CSerialWnd::~CSerialWnd() {
    if (m_hListener) {
        CSerialWnd::Close();
    }
}

void CSerialWnd::RegisterDefaultComMsg() {
    if (!g_defaultComMsgRegistered.load()) {
        g_defaultComMsg = platform::RegisterWindowMessage("CSerialWnd_DefaultComMsg");
        g_defaultComMsgRegistered = true;
    }
}

uint32_t CSerialWnd::DefaultComMsg() {
    return g_defaultComMsg.load();
}

uint32_t CSerialWnd::ListenerThread(void* object) {
    return static_cast<CSerialWnd*>(object)->ListenerLoop();
}

int32_t CSerialWnd::OpenWithListener(const char* lpszDevice, platform::ThreadId dwNotifyThread,
                                     uint32_t nNotifyMsg, int32_t lParam, uint32_t dwInQueue,
                                     uint32_t dwOutQueue) {
    if (m_hListener) {
        return SetResult(platform::ERROR_ALREADY_INITIALIZED);  // never a second listener
    }
    const int32_t opened = CSerial::Open(lpszDevice, dwInQueue, dwOutQueue);
    if (!Opened(opened)) {
        return opened;
    }
    m_hevtStop = std::make_shared<platform::Event>();
    m_hevtComm = std::make_shared<platform::Event>();
    m_hListener = platform::Thread::CreateSuspended(ListenerThread, this);
    if (!m_hListener) {
        const uint32_t error = platform::LastError();
        m_hevtStop.reset();
        m_hevtComm.reset();
        CSerial::Close();
        return SetResult(error);
    }
    if (nNotifyMsg == 0) {
        RegisterDefaultComMsg();
        nNotifyMsg = DefaultComMsg();
    }
    m_dwNotifyThread = dwNotifyThread;
    m_nNotifyMsg = nNotifyMsg;
    m_lNotifyParam = lParam;
    m_hListener->Resume();
    return m_lLastResult;
}

uint32_t CSerialWnd::ListenerLoop() {
    platform::Overlapped block;
    block.hEvent = m_hevtComm.get();
    platform::Event* const handles[] = {m_hevtStop.get(), m_hevtComm.get()};
    uint32_t exitCode = 0;
    // Starts the next comm-event wait; false when the thread is to end.
    auto startWait = [&] {
        const int32_t result = WaitForEvent(&block, INFINITE);
        if (result < 0) {
            exitCode = static_cast<uint32_t>(m_lLastResult.load());
            return false;
        }
        if (result > 0) {
            // The port failed (it has gone, say). Nothing will set the comm
            // event again: wait for the stop event rather than spin on it.
            m_hevtComm->Reset();
            if (result == static_cast<int32_t>(platform::ERROR_GEN_FAILURE) &&
                !m_bPortLost.exchange(true)) {
                platform::PostThreadMessage(m_dwNotifyThread, m_nNotifyMsg, LINK_GONE,
                                            m_lNotifyParam);
            }
        }
        return true;
    };
    if (startWait()) {
        while (platform::WaitForAny(handles, INFINITE) == platform::WAIT_OBJECT_0 + 1) {
            const uint16_t events = TakeEvent();
            uint32_t errors = 0;
            const auto port = m_hPort.Get();
            if (!port) {
                SetResult(platform::ERROR_INVALID_HANDLE);
            } else if (!port->ClearCommError(&errors)) {
                RecordError();
                errors = 0;
            }
            // An empty set comes when the mask changed during the wait.
            if (events != 0) {
                platform::PostThreadMessage(m_dwNotifyThread, m_nNotifyMsg,
                                            platform::MAKEWPARAM(events, errors & 0xFFFF),
                                            m_lNotifyParam);
            }
            if (!startWait()) {
                break;
            }
        }
    }
    // The block lives on this stack: no wait may stay pending on it.
    if (const auto port = m_hPort.Get()) {
        port->CancelIo(&block);
    }
    return exitCode;
}

int32_t CSerialWnd::Close() {
    if (m_hListener) {
        m_hevtStop->Set();
        m_hListener->Join(INFINITE);
    }
    m_bPortLost = false;
    m_hevtStop.reset();
    m_hevtComm.reset();
    m_hListener.reset();
    m_dwNotifyThread = 0;
    m_nNotifyMsg = 0;
    m_lNotifyParam = 0;
    return CSerial::Close();
}
