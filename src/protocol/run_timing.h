// The fixed waits of a run, and the speeds and pages the download header can announce: one
// place for the protocol and for the preflight check that plans and estimates a run.
#pragma once
#include <cstdint>

namespace vx {

namespace wait_ms {
constexpr uint32_t FORCED_SYNC_PROBE = 500;  // listening for a printer that announces itself
constexpr uint32_t SPEED_SWITCH = 2000;      // after the speed code, before the line changes
constexpr uint32_t AFTER_LAST_BANK = 500;
constexpr uint32_t PRINTER_RESTART = 3000;  // after a transfer, while the printer restarts
constexpr uint32_t STEP_PAUSE = 1000;       // between the steps of the three-step sequence
constexpr uint32_t RESYNC_PROBE = 500;      // listening for the printer after a reconnect
constexpr uint32_t SPOOLER_STOP = 5000;     // the spooler lets the port go once it stopped
}  // namespace wait_ms

// The header's code for a download speed; false for a speed the printer does not know.
bool speed_code(uint32_t baud, uint8_t& code);

// Only these exact maximum-baud reports let the download run at the configured speed;
// everything else (the 57600 and 115200 flags included) falls back to 9600.
bool keeps_download_speed(uint32_t max_baud_flag);

// The widest page numbers the model's header carries: one byte each for model 1, a one-byte
// begin page (its high byte is always sent as 0) and a 16-bit end page for models 2 to 5.
// Model 6 sends its section table, 16 bits a page, in place of the range.
bool header_can_say(int model, uint32_t begin, uint32_t end);

}  // namespace vx
