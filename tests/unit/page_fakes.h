// Fakes of the page windows, the procedure thread and the version sources, for the page
// class tests.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/flash_run.h"
#include "platform/pages.h"
#include "platform/system_info.h"
#include "recording_view.h"

namespace vx::test {

class FakePageWindow final : public MainPageWindow {
public:
    RecordingMainView main_view;
    std::map<ImageBox, bool>& checks = main_view.checks;  // the view reads what is set here
    std::map<ImageBox, bool> enabled{{ImageBox::firmware, true},
                                     {ImageBox::cg, true},
                                     {ImageBox::boot, true},
                                     {ImageBox::fpga, true},
                                     {ImageBox::keep_settings, true}};
    int cancel_to_close_calls = 0;
    std::vector<std::string> titles;
    std::vector<std::string> toolbar;  // the two texts, once created
    std::string printer_group;
    bool directory_ok = true;
    std::string directory = "C:\\WORK";
    std::string chooser_started_in = "<not shown>";
    bool user_chooses = false;
    std::string chosen;
    int beeps = 0;
    std::vector<int> exits;
    std::vector<bool> open_button;  // each change of the open button
    int sheet_closes = 0;

    MainPageView& view() override { return main_view; }
    void cancel_to_close() override { ++cancel_to_close_calls; }
    void set_sheet_title(const char* title) override { titles.push_back(title); }
    void create_toolbar(const char* open_text, const char* start_text) override {
        toolbar = {open_text, start_text};
    }
    void set_check(ImageBox box, bool checked) override { checks[box] = checked; }
    void enable(ImageBox box, bool on) override { enabled[box] = on; }
    void printer_caption(const char* text) override { printer_group = text; }
    bool current_directory(std::string& dir) override {
        if (directory_ok)
            dir = directory;
        return directory_ok;
    }
    bool choose_file(const std::string& dir, std::string& path) override {
        chooser_started_in = dir;
        if (user_chooses)
            path = chosen;
        return user_chooses;
    }
    void enable_open(bool on) override { open_button.push_back(on); }
    void close_sheet() override { ++sheet_closes; }
    void beep() override { ++beeps; }
    void exit_process(int code) override { exits.push_back(code); }
};

class FakeProcedureThread final : public ProcedureThread {
public:
    State current = State::none;
    bool start_fails = false;
    int starts = 0;
    ProcedureEntry entry = nullptr;
    send_thread_args args;
    // Runs during wait(); answers whether the procedure has ended by then.
    std::function<bool(uint32_t)> on_wait = [](uint32_t) { return false; };
    std::vector<uint32_t> waits;

    bool start(ProcedureEntry e, const send_thread_args& a) override {
        if (start_fails)
            return false;
        ++starts;
        entry = e;
        args = a;
        current = State::running;
        return true;
    }
    State state() override { return current; }
    bool wait(uint32_t ms) override {
        waits.push_back(ms);
        if (on_wait(ms))
            current = State::ended;
        return current == State::ended;
    }
};

class FakeSystemInfo final : public SystemInfo {
public:
    struct Entry {
        VersionLookup lookup = VersionLookup::missing;
        std::string text;
        uint32_t reported = 0;
    };
    bool resource = true;  // false: every lookup answers "unavailable"
    std::map<std::string, Entry> strings{
        {"ProductVersion", {VersionLookup::found, "6, 0, 0, 5", 11}},
        {"SpecialBuild", {VersionLookup::found, "x86 001", 8}},
    };
    bool version_ok = true;
    OsVersion os{OsFamily::nt, 10, 0, 19045, "", ""};
    bool has_product_type = true;
    std::string product = "WinNT";

    VersionLookup version_string(const char* name, std::string& text, uint32_t& reported) override {
        if (!resource)
            return VersionLookup::unavailable;
        auto it = strings.find(name);
        if (it == strings.end() || it->second.lookup != VersionLookup::found)
            return it == strings.end() ? VersionLookup::missing : it->second.lookup;
        text = it->second.text;
        reported = it->second.reported;
        return VersionLookup::found;
    }
    bool os_version(OsVersion& out) override {
        if (version_ok)
            out = os;
        return version_ok;
    }
    bool product_type(std::string& out) override {
        if (has_product_type)
            out = product;
        return has_product_type;
    }
};

}  // namespace vx::test
