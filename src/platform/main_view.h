// What the flash procedure and the transfers show on the main page, named by meaning. The
// Win32 page maps each call to its dialog controls, the console front-end draws a terminal
// line, silent mode uses NullMainView, and tests record the calls.
#pragma once
#include <cstdint>

#include "platform/ui.h"

namespace vx {

// The image-kind check boxes of the main page.
enum class ImageBox { firmware, cg, boot, fpga, keep_settings };

// One of the two progress bars: the bank bar runs through one 64 KiB bank, the pages bar
// through the whole range.
class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void set_range(int low, int high) = 0;
    virtual void set_step(int step) = 0;
    virtual void step() = 0;
    virtual void set_position(int position) = 0;
};

class MainPageView {
public:
    virtual ~MainPageView() = default;

    // Status lines. Texts are shown as they stand (never used as formats).
    virtual void connection_line(const char* text) = 0;  // line speed or connection state
    virtual void transfer_line(const char* text) = 0;    // what is being sent
    virtual void computer_status(const char* text) = 0;  // the computer's side
    virtual void printer_status(const char* text) = 0;   // the printer's side
    virtual void reply_line(const char* text) = 0;       // the printer's last reply
    virtual void bank_label(const char* text) = 0;       // "Bank n"
    virtual void page_range(const char* first, const char* last) = 0;
    virtual void model_label(const char* text) = 0;

    virtual ProgressView& bank_bar() = 0;
    virtual ProgressView& pages_bar() = 0;

    // The check boxes: whether one is set, and disabling one.
    virtual bool is_checked(ImageBox box) = 0;
    virtual void disable(ImageBox box) = 0;

    // Tells the page that the procedure ended (outside interactive mode the page then ends
    // the process). Silent mode has no page and ignores it.
    virtual void procedure_ended(int result) = 0;

    // Owner of the procedure's message boxes; null when there is no window.
    virtual WindowHandle box_owner() const { return nullptr; }
    // False when nobody sees the page (silent mode).
    virtual bool visible() const { return true; }
};

// The page of silent mode: nothing to show, no box checked.
class NullMainView final : public MainPageView, private ProgressView {
public:
    void connection_line(const char*) override {}
    void transfer_line(const char*) override {}
    void computer_status(const char*) override {}
    void printer_status(const char*) override {}
    void reply_line(const char*) override {}
    void bank_label(const char*) override {}
    void page_range(const char*, const char*) override {}
    void model_label(const char*) override {}
    ProgressView& bank_bar() override { return *this; }
    ProgressView& pages_bar() override { return *this; }
    bool is_checked(ImageBox) override { return false; }
    void disable(ImageBox) override {}
    void procedure_ended(int) override {}
    bool visible() const override { return false; }

private:
    void set_range(int, int) override {}
    void set_step(int) override {}
    void step() override {}
    void set_position(int) override {}
};

}  // namespace vx
