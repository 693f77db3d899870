// The property sheet's page windows over their dialogs, and the thread that runs the flash
// procedure. The objects live as long as the process: a procedure thread may still hold the
// view when its page window is gone.
#pragma once
#include <windows.h>

#include <atomic>
#include <memory>

#include "platform/pages.h"
#include "platform/win32/win32_handle.h"

namespace vx {

// Dialog 102's status lines, bars and check boxes. The procedure calls it from its own
// thread; every call is a synchronous window message, answered by the page's thread.
class Win32MainPageView final : public MainPageView {
public:
    void attach(HWND page, bool interactive);

    void connection_line(const char* text) override;
    void transfer_line(const char* text) override;
    void computer_status(const char* text) override;
    void printer_status(const char* text) override;
    void reply_line(const char* text) override;
    void bank_label(const char* text) override;
    void page_range(const char* first, const char* last) override;
    void model_label(const char* text) override;
    ProgressView& bank_bar() override { return bank_bar_; }
    ProgressView& pages_bar() override { return pages_bar_; }
    bool is_checked(ImageBox box) override;
    void disable(ImageBox box) override;
    void procedure_ended(int result) override;
    WindowHandle box_owner() const override { return page_; }
    // The result the page's own procedure handed over, once it has (outside interactive mode).
    bool procedure_result(int& result) const;

private:
    class Bar final : public ProgressView {
    public:
        void attach(HWND bar) { bar_ = bar; }
        void set_range(int low, int high) override;
        void set_step(int step) override;
        void step() override;
        void set_position(int position) override;

    private:
        HWND bar_ = nullptr;
    };
    void text(int id, const char* text);

    static constexpr int NO_RESULT = -1;
    HWND page_ = nullptr;
    bool interactive_ = true;
    std::atomic<int> result_{NO_RESULT};
    Bar bank_bar_;
    Bar pages_bar_;
};

class Win32MainPageWindow final : public MainPageWindow {
public:
    void attach(HWND page, bool interactive);

    MainPageView& view() override { return view_; }
    void cancel_to_close() override;
    void set_sheet_title(const char* title) override;
    void create_toolbar(const char* open_text, const char* start_text) override;
    void set_check(ImageBox box, bool checked) override;
    void enable(ImageBox box, bool enabled) override;
    void printer_caption(const char* text) override;
    bool current_directory(std::string& dir) override;
    bool choose_file(const std::string& dir, std::string& path) override;
    void enable_open(bool enabled) override;
    void close_sheet() override;
    void beep() override;
    void exit_process(int code) override;
    Win32MainPageView& page_view() { return view_; }

    // While the open button is off, the page's timer of this id asks whether to turn it on.
    static constexpr UINT_PTR OPEN_TIMER = 1;

private:
    HWND page_ = nullptr;
    Win32MainPageView view_;
};

class Win32ProcedureThread final : public ProcedureThread {
public:
    Win32ProcedureThread();
    ~Win32ProcedureThread() override;
    Win32ProcedureThread(const Win32ProcedureThread&) = delete;
    Win32ProcedureThread& operator=(const Win32ProcedureThread&) = delete;
    bool start(ProcedureEntry entry, const send_thread_args& args) override;
    State state() override;
    bool wait(uint32_t ms) override;

private:
    struct StartRecord;
    static DWORD WINAPI run(void* record);
    std::unique_ptr<StartRecord> record_;
    UniqueFileHandle thread_;
    DWORD thread_id_ = 0;  // kept for debugging sessions
};

class Win32AboutWindow final : public AboutWindow {
public:
    void attach(HWND page) { page_ = page; }
    void set_version_text(const char* text) override;

private:
    HWND page_ = nullptr;
};

// The control of a check box.
int image_box_id(ImageBox box);

}  // namespace vx
