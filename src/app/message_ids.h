// Ids of the flash.mes texts the program shows. The wording lives in flash.mes; the comments
// say what each text is for, and which take a number (%d) or a text (%s).
#pragma once
#include <cstdint>

namespace vx::msg {

constexpr uint16_t ERROR_CAPTION = 2;            // box caption; also the "failed" transfer line
constexpr uint16_t SPEED_UNSUPPORTED = 3;        // BAUD_SEND has no speed code
constexpr uint16_t NO_ANSWER = 4;                // printer silent at download-mode entry
constexpr uint16_t TOO_FEW_PAGES = 5;            // image shorter than the page range
constexpr uint16_t BANK_RETRY = 7;               // %d bank asked again
constexpr uint16_t BANK_WAITING = 8;             // %d bank still waiting
constexpr uint16_t UNRECOVERABLE = 10;           // printer reported a fatal error
constexpr uint16_t BANK_PROGRAMMING_REPLY = 13;  // %d reply line while programming
constexpr uint16_t BANK_NUMBER = 14;             // %d bank label
constexpr uint16_t SENDING_DATA = 15;
constexpr uint16_t BANK_PROGRAMMING = 16;  // %d printer status while programming
constexpr uint16_t WAITING_CONFIRM = 17;
constexpr uint16_t BANK_ACCEPTED = 18;  // %d when formatted; also shown as it stands
constexpr uint16_t READY = 19;
constexpr uint16_t SENDING_FILE = 20;    // %s file name
constexpr uint16_t LINE_SPEED = 21;      // %d bit/s
constexpr uint16_t FIRST_PAGE = 22;      // %d
constexpr uint16_t LAST_PAGE = 23;       // %d
constexpr uint16_t DOWNLOAD_SPEED = 24;  // %d bit/s
constexpr uint16_t DOWNLOAD_FINISHED = 25;
constexpr uint16_t PRINTER_RESTARTS = 27;
constexpr uint16_t MAIN_PAGE_TITLE = 28;
constexpr uint16_t OPEN_BUTTON = 29;
constexpr uint16_t START_BUTTON = 30;
constexpr uint16_t SHEET_CAPTION = 31;  // %s image file name
constexpr uint16_t OPEN_TOOLTIP = 32;
constexpr uint16_t START_TOOLTIP = 33;
constexpr uint16_t SETUP_PAGE_TITLE = 35;
constexpr uint16_t FILE_SENT = 36;
constexpr uint16_t ABOUT_PAGE_TITLE = 37;
constexpr uint16_t MODEL_UNKNOWN = 38;
constexpr uint16_t LEAVE_CAPTION = 39;  // leave-guard caption; also the LPT box caption
constexpr uint16_t LEAVE_QUESTION = 40;
constexpr uint16_t PORT_HAS_PRINTER = 41;  // %s printer, %s port, %s port
constexpr uint16_t SENDING_FIRMWARE = 42;
constexpr uint16_t SENDING_CG = 43;
constexpr uint16_t NOT_FOR_MODEL = 44;
constexpr uint16_t IMAGE_INVALID = 45;
constexpr uint16_t SENDING_BOOT = 46;
constexpr uint16_t LPT_REFUSED = 47;

// Every id the program looks up, with what it formats the text with, in order: "d" a
// number, "s" a text; "" for a text shown as it stands. A trailing "?": the text is also
// shown as it stands, so it may leave its argument out.
struct MessageUse {
    uint16_t id;
    const char* args;
};
constexpr MessageUse USED_MESSAGES[] = {
    {ERROR_CAPTION, ""},     {SPEED_UNSUPPORTED, ""},
    {NO_ANSWER, ""},         {TOO_FEW_PAGES, ""},
    {BANK_RETRY, "d"},       {BANK_WAITING, "d"},
    {UNRECOVERABLE, ""},     {BANK_PROGRAMMING_REPLY, "d"},
    {BANK_NUMBER, "d"},      {SENDING_DATA, ""},
    {BANK_PROGRAMMING, "d"}, {WAITING_CONFIRM, ""},
    {BANK_ACCEPTED, "d?"},   {READY, ""},
    {SENDING_FILE, "s"},     {LINE_SPEED, "d"},
    {FIRST_PAGE, "d"},       {LAST_PAGE, "d"},
    {DOWNLOAD_SPEED, "d"},   {DOWNLOAD_FINISHED, ""},
    {PRINTER_RESTARTS, ""},  {MAIN_PAGE_TITLE, ""},
    {OPEN_BUTTON, ""},       {START_BUTTON, ""},
    {SHEET_CAPTION, "s?"},   {OPEN_TOOLTIP, ""},
    {START_TOOLTIP, ""},     {SETUP_PAGE_TITLE, ""},
    {FILE_SENT, ""},         {ABOUT_PAGE_TITLE, ""},
    {MODEL_UNKNOWN, ""},     {LEAVE_CAPTION, ""},
    {LEAVE_QUESTION, ""},    {PORT_HAS_PRINTER, "sss"},
    {SENDING_FIRMWARE, ""},  {SENDING_CG, ""},
    {NOT_FOR_MODEL, ""},     {IMAGE_INVALID, ""},
    {SENDING_BOOT, ""},      {LPT_REFUSED, ""},
};

}  // namespace vx::msg
