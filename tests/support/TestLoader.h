#pragma once
// The serial link with its fields open to tests.

#include "Serial/CSerialLoader.h"

class TestLoader : public CSerialLoader {
  public:
    explicit TestLoader(uint32_t replySize = 1024) : CSerialLoader(replySize) {}
    using CSerialLoader::m_cLastCommand;
    using CSerialLoader::m_dwReaderThread;
    using CSerialLoader::m_hevtOverlapped;
    using CSerialLoader::m_hListener;
    using CSerialLoader::m_hPort;
    using CSerialLoader::m_hReader;
    using CSerialLoader::m_lLastResult;
    using CSerialLoader::m_status;
};
