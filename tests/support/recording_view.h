// A main page view that records what the procedure shows, for tests.
#pragma once
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/main_view.h"

namespace vx::test {

enum class Field {
    connection,
    transfer,
    pc_status,
    printer_status,
    reply,
    bank_label,
    first_page,
    last_page,
    model
};

class RecordingMainView : public MainPageView {
public:
    std::map<Field, std::string> texts;                   // last text per field
    std::vector<std::pair<Field, std::string>> text_log;  // every write, in order
    std::map<ImageBox, bool> checks;
    std::vector<ImageBox> disabled;
    // Both bars in one log ("range 0 32", "step 4", "stepit 0 0", "pos 0 0"), and each alone.
    std::vector<std::string> progress_log;
    std::vector<std::string> bank_log, pages_log;
    std::vector<int> results;

    void connection_line(const char* t) override { put(Field::connection, t); }
    void transfer_line(const char* t) override { put(Field::transfer, t); }
    void computer_status(const char* t) override { put(Field::pc_status, t); }
    void printer_status(const char* t) override { put(Field::printer_status, t); }
    void reply_line(const char* t) override { put(Field::reply, t); }
    void bank_label(const char* t) override { put(Field::bank_label, t); }
    void page_range(const char* first, const char* last) override {
        put(Field::first_page, first);
        put(Field::last_page, last);
    }
    void model_label(const char* t) override { put(Field::model, t); }
    ProgressView& bank_bar() override { return bank_; }
    ProgressView& pages_bar() override { return pages_; }
    bool is_checked(ImageBox box) override { return checks.count(box) && checks[box]; }
    void disable(ImageBox box) override { disabled.push_back(box); }
    void procedure_ended(int result) override { results.push_back(result); }
    WindowHandle box_owner() const override { return reinterpret_cast<WindowHandle>(0x100); }

    std::vector<std::string> texts_of(Field f) const {
        std::vector<std::string> out;
        for (const auto& [field, text] : text_log) {
            if (field == f)
                out.push_back(text);
        }
        return out;
    }

private:
    class Bar : public ProgressView {
    public:
        Bar(RecordingMainView& owner, std::vector<std::string>& own) : owner_(owner), own_(own) {}
        void set_range(int low, int high) override { log("range", low, high); }
        void set_step(int step) override { log("step", step, 0); }
        void step() override { log("stepit", 0, 0); }
        void set_position(int position) override { log("pos", position, 0); }

    private:
        void log(const char* op, int a, int b) {
            const std::string entry =
                std::string(op) + " " + std::to_string(a) + " " + std::to_string(b);
            owner_.progress_log.push_back(entry);
            own_.push_back(entry);
        }
        RecordingMainView& owner_;
        std::vector<std::string>& own_;
    };
    void put(Field f, const char* t) {
        texts[f] = t != nullptr ? t : "";
        text_log.emplace_back(f, texts[f]);
    }
    Bar bank_{*this, bank_log};
    Bar pages_{*this, pages_log};
};

}  // namespace vx::test
