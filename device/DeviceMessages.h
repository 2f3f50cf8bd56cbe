#pragma once
// Message numbers and notification codes shared by the device controller, its
// worker, the main window and the command-line tool.

#include <cstdint>

// Window and thread messages. WM_DEVICE_NOTIFY carries a code in the low word
// of wParam: the link's replies and errors and DEV_STOP towards the worker,
// the DEV_* notifications below towards the window.
inline constexpr uint32_t WM_DEVICE_NOTIFY = 33168;   // 0x8190
inline constexpr uint32_t TM_DOWNLOAD_START = 33169;  // 0x8191, low word: command code
// 0x8192: the rest of an erase on the worker: the wait command, the fill block
// and the read-back, with their pauses (the window program's thread never
// waits for them).
inline constexpr uint32_t TM_ERASE_FILL = 33170;
inline constexpr uint32_t WM_OUTPUT_CLOSED = 33171;    // 0x8193, from the data window, wParam 100
inline constexpr uint32_t WM_DOWNLOAD_CANCEL = 33172;  // 0x8194, from the progress window
inline constexpr uint32_t WM_LOG_SELECTED = 33173;     // 0x8195, from the log list window
inline constexpr uint32_t TM_WORKER_QUIT = 33174;      // 0x8196
inline constexpr uint32_t TM_DOWNLOAD_RESUME = 33175;  // 0x8197

// The wParam that WM_OUTPUT_CLOSED carries; others are ignored.
inline constexpr uint32_t OUTPUT_CLOSED_WPARAM = 100;

// Notification codes (low word of wParam of WM_DEVICE_NOTIFY).
inline constexpr uint16_t DEV_DONE = 33269;           // 0x81F5 the run is over
inline constexpr uint16_t DEV_COMM_ERROR = 33270;     // 0x81F6 the link failed; the worker ended
inline constexpr uint16_t DEV_LOG_CORRUPT = 33271;    // 0x81F7 a header block is not valid
inline constexpr uint16_t DEV_RESERVED = 33272;       // 0x81F8 never posted; ignored
inline constexpr uint16_t DEV_UNEXPECTED = 33273;     // 0x81F9 a reply to a command not read
inline constexpr uint16_t DEV_LOG_HEADER = 33274;     // 0x81FA a log's header was decoded
inline constexpr uint16_t DEV_BLOCK = 33275;          // 0x81FB one reply of a log's data
inline constexpr uint16_t DEV_LOG_COUNT = 33276;      // 0x81FC high word: logs in the reader
inline constexpr uint16_t DEV_LOG_DONE = 33277;       // 0x81FD a log ended, another follows
inline constexpr uint16_t DEV_BLOCK_TOTAL = 33278;    // 0x81FE lParam: expected data blocks
inline constexpr uint16_t DEV_STOP = 33279;           // 0x81FF to the worker: end now
inline constexpr uint16_t DEV_LOG_OPEN_FILE = 33281;  // 0x8201 open the log's data file now
inline constexpr uint16_t DEV_LOG_FOUND = 33282;      // 0x8202 high word: logs found so far
inline constexpr uint16_t DEV_ERASE_RESULT = 33283;   // 0x8203 high word: 0 erased, 1 not
inline constexpr uint16_t DEV_LOG_SKIPPED = 33284;    // 0x8204 a corrupted log was given up
inline constexpr uint16_t DEV_RECOVERED = 33285;      // 0x8205 high word: faults recovered so far
inline constexpr uint16_t DEV_PORT_LOST = 33288;      // 0x8208 the port stopped working
inline constexpr uint16_t DEV_CHAIN_LOOP = 33289;     // 0x8209 the chain points back; high: entries
// A good reply that no other notification reports (a header block in part, a
// late copy of an answer): a sign that the reader is alive.
inline constexpr uint16_t DEV_ALIVE = 33290;  // 0x820A
// To the worker: the run is held (a question is open), nothing is asked of
// the reader until DEV_GO_ON; an answer that comes meanwhile is kept for it.
inline constexpr uint16_t DEV_HOLD = 33291;   // 0x820B
inline constexpr uint16_t DEV_GO_ON = 33292;  // 0x820C
// A log's header read by a survey (nothing is saved): the log is handed
// over; lParam: how many samples its data holds, -1 when its header is not valid.
inline constexpr uint16_t DEV_LOG_SURVEYED = 33293;  // 0x820D

// Command codes of TM_DOWNLOAD_START and of the link.
inline constexpr int8_t CMD_STREAM = 0;  // "M80": the single-log stream
inline constexpr int8_t CMD_READ = 18;   // "M81": read a block, or write one
inline constexpr int8_t CMD_ERASE = 19;  // "{10"
inline constexpr int8_t CMD_WAIT = 20;   // "|10"

// The payload of CMD_WAIT, which ends a download and comes before an erase.
inline constexpr char WAIT_PAYLOAD[] = "@Wait@          ";
inline constexpr int32_t WAIT_PAYLOAD_LENGTH = sizeof WAIT_PAYLOAD - 1;  // 16
