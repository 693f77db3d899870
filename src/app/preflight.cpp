// The preflight check. It runs the program's own reading of flash.ini, flash.mes and the
// images on a view of the machine that cannot write: the profile keeps a run's write-backs in
// memory, result files cannot be opened, the spooler is left alone. So the report says what
// a run would read, and the folder stays as it was.
#include "app/preflight.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "app/message_format.h"
#include "app/message_ids.h"
#include "app/port_reports.h"
#include "app/startup.h"
#include "image/image_check.h"
#include "image/image_format.h"
#include "image/image_refusal.h"
#include "platform/profile_lines.h"
#include "port/usb_port.h"
#include "protocol/bank_transfer.h"
#include "protocol/run_timing.h"
#include "session/transfer_plan.h"

namespace vx {
namespace {

constexpr const char* GENERAL = "GENERAL";
constexpr const char* INTERNAL = "INTERNAL";
constexpr const char* PORT_SETTING = "PORT SETTING";
constexpr const char* TABLE = "CONDITIONAL_TABLE";
constexpr int MODELS = 6;

// Every key of the sections the program reads by name.
struct KnownKey {
    const char* section;
    const char* key;
};
constexpr KnownKey KNOWN_KEYS[] = {
    {GENERAL, "FILENAME"},          {GENERAL, "SEND_FW"},          {GENERAL, "SEND_BOOT"},
    {GENERAL, "SEND_CG"},           {GENERAL, "SEND_FPGA"},        {GENERAL, "FLASHMODE"},
    {GENERAL, "IBM_EMULATION"},     {GENERAL, "KEEP_SETTINGS"},    {GENERAL, "TRACE"},
    {GENERAL, "CONDITIONAL_TABLE"}, {INTERNAL, "BEGIN_PAGE"},      {INTERNAL, "END_PAGE"},
    {INTERNAL, "OFFSET_PAGE"},      {PORT_SETTING, "PORT"},        {PORT_SETTING, "BAUD"},
    {PORT_SETTING, "BAUD_SEND"},    {PORT_SETTING, "SIZE"},        {PORT_SETTING, "PARITY"},
    {PORT_SETTING, "STOP"},         {PORT_SETTING, "VIRTUAL_COM"},
};

// The line speeds the setup page offers.
constexpr uint32_t LINE_SPEEDS[] = {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200};

std::string strf(const char* format, ...) VX_PRINTF(1, 2);
std::string strf(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// A text from a file the user edits, safe to print: control bytes shown as '?', cut short.
std::string shown(const std::string& s) {
    constexpr size_t LIMIT = 120;
    std::string out;
    for (char c : s.substr(0, LIMIT)) {
        const auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
    if (s.size() > LIMIT)
        out += "...";
    return out;
}

std::string upper(std::string s) {
    for (char& c : s)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return s;
}

// ---- the machine behind walls ----

class ReadOnlyFiles final : public FileSystem {
public:
    explicit ReadOnlyFiles(FileSystem& inner) : inner_(inner) {}
    bool exists(const std::string& path) override { return inner_.exists(path); }
    void remove(const std::string&) override {}
    std::string startup_directory() override { return inner_.startup_directory(); }
    char path_separator() override { return inner_.path_separator(); }
    FileReadResult read_whole(const std::string& path, std::vector<uint8_t>& out,
                              uint64_t max_size) override {
        return inner_.read_whole(path, out, max_size);
    }
    WriteOpen open_for_writing(const std::string&, bool) override { return {}; }

private:
    FileSystem& inner_;
};

// The spooler's state can be read; nothing can stop or start it, nor record a stop.
class NoServices final : public Services {
public:
    explicit NoServices(Services& inner) : inner_(inner) {}
    ServiceAccess spooler_state(ServiceState& state) override {
        return inner_.spooler_state(state);
    }
    bool stop_spooler(std::string& error) override { return refused(error); }
    bool start_spooler(std::string& error) override { return refused(error); }
    bool write_stop_record() override { return false; }
    void clear_stop_record() override {}
    bool stop_recorded() override { return false; }

private:
    static bool refused(std::string& error) {
        error = "not during a check";
        return false;
    }
    Services& inner_;
};

// A run stops the spooler (and waits for it) only where there is one and it runs.
bool spooler_running(Services& services) {
    ServiceState state = ServiceState::unknown;
    return services.spooler_state(state) == ServiceAccess::opened && state == ServiceState::running;
}

// Records each key read, what it gave and whether the file has it. A run's write-backs stay
// in memory, so the reads after them see what a run would see.
class RecordingProfile final : public ProfileFile {
public:
    struct Read {
        std::string section, key, value;
        bool in_file = false;
        bool written = false;  // a run writes this default into flash.ini
        bool number = false;
    };
    std::vector<Read> reads;

    explicit RecordingProfile(ProfileFile& inner) : inner_(inner) {}

    uint32_t get_string(const char* path, const char* section, const char* key, const char* def,
                        char* buf, uint32_t size) override {
        const auto w = written_.find(upper(section) + "|" + upper(key));
        uint32_t n = 0;
        if (w != written_.end()) {
            n = static_cast<uint32_t>(std::snprintf(buf, size, "%s", w->second.c_str()));
            n = std::min(n, size ? size - 1 : 0);
            note(section, key, buf, false, true, false);
            return n;
        }
        n = inner_.get_string(path, section, key, def, buf, size);
        note(section, key, size ? buf : "", present(path, section, key), false, false);
        return n;
    }
    uint32_t get_int(const char* path, const char* section, const char* key, int def) override {
        const uint32_t v = inner_.get_int(path, section, key, def);
        note(section, key, std::to_string(static_cast<int32_t>(v)), present(path, section, key),
             false, true);
        return v;
    }
    bool has_section(const char* path, const char* section) override {
        return inner_.has_section(path, section);
    }
    bool write_string(const char*, const char* section, const char* key,
                      const char* value) override {
        written_[upper(section) + "|" + upper(key)] = value ? value : "";
        return true;
    }

private:
    // The profile functions answer a missing key with the default: a default no file holds
    // tells the two apart.
    bool present(const char* path, const char* section, const char* key) {
        static constexpr char ABSENT[] = "\x01(absent)\x01";
        char buf[PATH_CHARS] = {};
        inner_.get_string(path, section, key, ABSENT, buf, sizeof buf);
        return std::strcmp(buf, ABSENT) != 0;
    }
    void note(const char* section, const char* key, const std::string& value, bool in_file,
              bool written, bool number) {
        reads.push_back({section, key, value, in_file, written, number});
    }

    ProfileFile& inner_;
    std::map<std::string, std::string> written_;
};

class Report {
public:
    std::string text;
    int problems = 0, warnings = 0;
    void heading(const std::string& title) { text += "\n" + title + "\n"; }
    void line(const std::string& s) { text += "  " + s + "\n"; }
    void problem(const std::string& s) {
        ++problems;
        text += "  problem: " + s + "\n";
    }
    void warning(const std::string& s) {
        ++warnings;
        text += "  warning: " + s + "\n";
    }
};

// ---- flash.ini ----

using profile_lines::Kind;
using profile_lines::Line;
using profile_lines::same_name;

// Edit distance of two short names, to suggest what a misspelt key meant.
size_t distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            const bool same = upper(a.substr(i - 1, 1)) == upper(b.substr(j - 1, 1));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

bool known_key(const std::string& section, const std::string& key) {
    return std::any_of(std::begin(KNOWN_KEYS), std::end(KNOWN_KEYS), [&](const KnownKey& k) {
        return same_name(section, k.section) && same_name(key, k.key);
    });
}

std::string suggestion(const std::string& section, const std::string& key) {
    for (const KnownKey& k : KNOWN_KEYS) {
        if (same_name(section, k.section) && distance(key, k.key) <= 2)
            return strf(" (did you mean %s?)", k.key);
    }
    return "";
}

// Index of the first header of a section, lines.size() when there is none.
size_t first_section(const std::vector<Line>& lines, const char* section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Kind::section && same_name(lines[i].name, section))
            return i;
    }
    return lines.size();
}

// The entries of the first header of a section (comment lines left out).
std::vector<size_t> entries_of(const std::vector<Line>& lines, const char* section) {
    std::vector<size_t> out;
    for (size_t i = first_section(lines, section) + 1;
         i < lines.size() && lines[i].kind != Kind::section; ++i) {
        if (lines[i].kind == Kind::entry && lines[i].name.rfind(';', 0) != 0)
            out.push_back(i);
    }
    return out;
}

// Line number of the entry a read finds, 0 for none.
size_t line_of(const std::vector<Line>& lines, const std::string& section, const std::string& key) {
    for (size_t i : entries_of(lines, section.c_str())) {
        if (same_name(lines[i].name, key))
            return i + 1;
    }
    return 0;
}

void report_keys(Report& r, const RecordingProfile& profile, const std::vector<Line>& lines) {
    // A key read twice (with two defaults) shows each value it gave.
    std::vector<std::pair<std::string, std::string>> order;
    std::map<std::string, std::vector<const RecordingProfile::Read*>> by_key;
    for (const RecordingProfile::Read& read : profile.reads) {
        const std::string id = upper(read.section) + "|" + upper(read.key);
        if (by_key[id].empty())
            order.emplace_back(id, read.key);
        by_key[id].push_back(&read);
    }
    for (const auto& [id, key] : order) {
        const auto& reads = by_key[id];
        std::string values;
        for (const auto* read : reads) {
            if (read->value.empty() && !read->in_file && reads.size() > 1)
                continue;  // missing, then written by the run: the written value is what counts
            const std::string v = read->number ? read->value : "\"" + shown(read->value) + "\"";
            if (values.find(v) == std::string::npos)
                values += (values.empty() ? "" : " / ") + v;
        }
        const RecordingProfile::Read& first = *reads.front();
        const size_t at = line_of(lines, first.section, key);
        std::string source = at ? strf("line %u", unsigned(at)) : "default";
        if (std::any_of(reads.begin(), reads.end(), [](auto* x) { return x->written; }))
            source += "; a run writes it into flash.ini";
        r.line(strf("[%s] %s = %s  (%s)", first.section.c_str(), key.c_str(), values.c_str(),
                    source.c_str()));
    }

    for (const char* section : {GENERAL, INTERNAL, PORT_SETTING}) {
        std::vector<std::string> seen;
        for (size_t i : entries_of(lines, section)) {
            const std::string& name = lines[i].name;
            if (!known_key(section, name)) {
                r.warning(strf("line %u: [%s] %s is not a key vxflash reads; it is ignored%s",
                               unsigned(i + 1), section, shown(name).c_str(),
                               suggestion(section, name).c_str()));
            } else if (std::any_of(seen.begin(), seen.end(),
                                   [&](const std::string& s) { return same_name(s, name); })) {
                r.warning(strf("line %u: [%s] %s appears again; only its first line is read",
                               unsigned(i + 1), section, shown(name).c_str()));
            }
            seen.push_back(name);
        }
        const size_t first = first_section(lines, section);
        for (size_t i = first + 1; i < lines.size(); ++i) {
            if (lines[i].kind == Kind::section && same_name(lines[i].name, section))
                r.warning(strf("line %u: a second [%s] is never read (the first is at line %u)",
                               unsigned(i + 1), section, unsigned(first + 1)));
        }
    }
}

// Values a run takes but that cannot work, or work otherwise than they seem to.
void report_ranges(Report& r, const FlashRun& cfg, bool& speed_ok) {
    uint8_t code = 0;
    speed_ok = speed_code(cfg.config.send_baud, code);
    if (!speed_ok)
        r.problem(
            strf("[PORT SETTING] BAUD_SEND=%u has no speed code (9600, 19200, 38400, 57600 "
                 "or 115200): every run stops at the download header",
                 static_cast<unsigned>(cfg.config.send_baud)));
    if (cfg.config.port_type == COM_PORT) {
        if (std::find(std::begin(LINE_SPEEDS), std::end(LINE_SPEEDS), cfg.config.line.baud) ==
            std::end(LINE_SPEEDS))
            r.warning(strf("[PORT SETTING] BAUD=%u is not a speed the setup page offers",
                           static_cast<unsigned>(cfg.config.line.baud)));
        if (cfg.config.line.data_bits != 7 && cfg.config.line.data_bits != 8)
            r.warning(strf("[PORT SETTING] SIZE gives %u data bits; 7 or 8 are valid",
                           unsigned(cfg.config.line.data_bits)));
        if (cfg.config.saved_parity < 0 || cfg.config.saved_parity > 2)
            r.warning(strf("[PORT SETTING] PARITY=%d; valid: 0 none, 1 odd, 2 even",
                           cfg.config.saved_parity));
        if (cfg.config.line.stop_bits > 2)
            r.warning(
                strf("[PORT SETTING] STOP gives code %u; valid: 0 one, 1 one and a half, "
                     "2 two stop bits",
                     unsigned(cfg.config.line.stop_bits)));
    }
    const std::string kind = upper(std::string(cfg.config.port_name).substr(0, 3));
    if ((kind == "USB" || kind == "LPT") &&
        std::strncmp(cfg.config.port_name, kind.c_str(), 3) != 0)
        r.warning(
            strf("[PORT SETTING] PORT=%s is taken as a serial port: the kind is read from "
                 "\"USB\" or \"LPT\" in capitals",
                 shown(cfg.config.port_name).c_str()));
}

const char* mode_name(int mode) {
    return mode == INTERACTIVE_MODE ? "interactive" : mode == SILENT_MODE ? "silent" : "unattended";
}

std::string selection_text(uint16_t mode) {
    if (mode == SEND_FREE)
        return "the page range of [INTERNAL] (free pages)";
    std::string s;
    const std::pair<uint16_t, const char*> bits[] = {{SEND_BOOT, "boot loader"},
                                                     {SEND_FW, "firmware"},
                                                     {SEND_CG, "tables and fonts (CG)"},
                                                     {SEND_FPGA, "FPGA"},
                                                     {KEEP_SETTINGS, "keeping the settings"}};
    for (const auto& [bit, name] : bits) {
        if (mode & bit)
            s += (s.empty() ? "" : ", ") + std::string(name);
    }
    return s.empty() ? "nothing" : s;
}

void report_run_mode(Report& r, const FlashRun& cfg, bool uses_table, bool spooler_runs) {
    r.line(strf("run mode %d, %s", cfg.report.mode(), mode_name(cfg.report.mode())) +
           (cfg.session.end_page != 0 ? " (END_PAGE forces it)" : ""));
    switch (cfg.report.mode()) {
        case INTERACTIVE_MODE:
            r.line("  the user starts the download and sees every message; exit code 1; the");
            r.line("  selection and the file below are what the main page offers first");
            break;
        case SILENT_MODE:
            r.line("  no window; exit code 1 after success, 0 after a failure;");
            r.line("  read OK.txt (one line after success) or KO.txt (a line per failure)");
            break;
        default:
            r.line("  the progress page starts by itself; exit code 0 after success, 1 after a");
            r.line(
                "  failure; read OK.txt (one line after success) or KO.txt (a line per failure)");
            break;
    }
    if (cfg.config.port_type == COM_PORT && cfg.report.mode() != INTERACTIVE_MODE) {
        r.line(spooler_runs ? "  the print spooler runs: it is stopped before the run (5 s) and "
                              "started again after it"
                            : "  no running print spooler to stop");
    }
    if (cfg.report.tracing())
        r.line("  TRACE: FlashTrace.dbg is written");
    r.line(strf("selection: %s (send mode 0x%04x)", selection_text(cfg.config.send_mode).c_str(),
                unsigned(cfg.config.send_mode)));
    if (uses_table)
        r.line("the printer's firmware release picks the image from [CONDITIONAL_TABLE]");
    else if (cfg.config.conditional_table)
        r.line("CONDITIONAL_TABLE=1 has no effect in interactive mode");
}

// ---- flash.mes ----

void report_catalogue(Report& r, Platform& platform, const std::string& path,
                      MessageCatalogue& catalogue, bool& present) {
    std::vector<uint8_t> bytes;
    present = !path.empty() && platform.files.exists(path);
    if (!present) {
        r.problem("flash.mes is missing: every run stops with [Error 2]");
        return;
    }
    const FileReadResult read = platform.files.read_whole(path, bytes, MAX_CATALOGUE_BYTES);
    if (read.failed_at != FileStage::ok || bytes.empty()) {
        r.warning(
            "flash.mes cannot be read or is empty: a run shows \"no message available\" "
            "for every text");
        return;
    }
    catalogue.parse(bytes.data(), bytes.size());
    int missing = 0, mismatched = 0;
    for (const msg::MessageUse& use : msg::USED_MESSAGES) {
        if (!catalogue.has(use.id)) {
            ++missing;
            r.warning(strf("id %u is missing: \"no message available\" is shown in its place",
                           unsigned(use.id)));
            continue;
        }
        std::vector<FormatArgKind> kinds;
        bool optional = false;
        for (const char* a = use.args; *a; ++a) {
            if (*a == '?')
                optional = true;
            else
                kinds.push_back(*a == 's' ? FormatArgKind::string : FormatArgKind::integer);
        }
        const char* text = catalogue.get_message(use.id);
        const auto accepts = [&](size_t n) {
            switch (n) {
                case 0:
                    return format_accepts(text, {});
                case 1:
                    return format_accepts(text, {kinds[0]});
                default:
                    return format_accepts(text, {kinds[0], kinds[1], kinds[2]});
            }
        };
        const std::string args = kinds.empty()                       ? "no argument"
                                 : kinds.size() == 3                 ? "three texts"
                                 : kinds[0] == FormatArgKind::string ? "a text"
                                                                     : "a number";
        if (!accepts(kinds.size())) {
            ++mismatched;
            r.warning(strf("id %u \"%s\": its conversions do not take %s; it is shown literally",
                           unsigned(use.id), shown(text).c_str(), args.c_str()));
        } else if (!kinds.empty() && !optional && accepts(0)) {
            ++mismatched;
            r.warning(strf("id %u \"%s\" has no conversion for %s: it is shown without it",
                           unsigned(use.id), shown(text).c_str(), args.c_str()));
        }
    }
    if (missing == 0 && mismatched == 0)
        r.line(strf("all %u texts the program uses are present, their conversions as expected",
                    unsigned(std::size(msg::USED_MESSAGES))));
}

// ---- images ----

struct StepPlan {
    uint16_t flags = 0;
    uint32_t begin = 0, end = 0, offset = 0, pages = 0, banks = 0;
};

struct ModelPlan {
    bool valid = false;  // the image check accepts the file for this model
    bool ok = false;     // and the selection gives it something it can send
    std::string why_not;
    std::vector<StepPlan> steps;
};

struct ImageFile {
    std::string label, name;
    bool needed = false;  // a run may send it
    bool readable = false;
    ModelPlan models[MODELS + 1];
};

// A refusal in the words of the procedure's trace line, without its tag.
std::string refusal_of(const char* trace) {
    std::string t = trace;
    const size_t tag = t.find("] ", t.find("]["));
    if (tag != std::string::npos)
        t = t.substr(tag + 2);
    while (!t.empty() && (t.back() == '\n' || t.back() == ' '))
        t.pop_back();
    return "the selection is refused for this model (" + t + ")";
}

// What a run would do with this image for one model: the program's own checks and page
// range choices, on a flash context that can write nothing.
ModelPlan plan_for(Platform& walled, MessageCatalogue& catalogue, const FlashRun& cfg,
                   const std::string& name, const std::vector<uint8_t>& bytes, int model) {
    ModelPlan p;
    FlashRun f(walled, catalogue);
    f.report.set_mode(SILENT_MODE);  // no box from a check
    std::snprintf(f.config.fw_filename, sizeof f.config.fw_filename, "%s", name.c_str());
    f.config.send_mode = cfg.config.send_mode;
    f.session.begin_page = cfg.session.begin_page;
    f.session.end_page = cfg.session.end_page;
    f.session.offset_page = cfg.session.offset_page;
    f.session.printer_model = model;

    uint16_t flags = cfg.config.send_mode;
    const bool boot = (flags & SEND_BOOT) && !(flags & SEND_FREE);
    p.valid =
        boot ? check_boot_file(f.session, f.report, f.platform.files, f.config.fw_filename) != 0
             : check_firmware_file(f.session, f.report, f.platform.files, f.config.fw_filename,
                                   f.config.send_mode) != 0;
    if (!p.valid) {
        const CheckOutcome o = boot ? check_boot_image(bytes.data(), bytes.size(), model).outcome
                                    : check_fw_image(bytes.data(), bytes.size(), model).outcome;
        p.why_not = o.fault == ImageFault::none
                        ? "the file is larger than this model's images can be"
                        : describe_refusal(o, model, boot, bytes.size());
        return p;
    }
    if (const char* refusal = refused_selection(model, flags, false)) {
        p.why_not = refusal_of(refusal);
        return p;
    }
    if (!(flags & SEND_FREE)) {
        flags = with_implied_sections(model, flags);
        if (const char* refusal = refused_selection(model, flags, true)) {
            p.why_not = refusal_of(refusal);
            return p;
        }
    }
    const uint64_t image_pages = pages_rounded_up(bytes.size());
    for (uint16_t step : range_steps(model, flags)) {
        if (step != SEND_FREE && !set_transfer_range(f.session, f.report, step)) {
            p.why_not = "the selection gives no page range for this model";
            return p;
        }
        if (f.session.end_page > f.session.max_page) {
            p.why_not = strf("end page %u lies beyond page %u, the highest the printer takes",
                             unsigned(f.session.end_page), unsigned(f.session.max_page));
            return p;
        }
        if (!header_can_say(model, f.session.begin_page, f.session.end_page)) {
            p.why_not = strf("the download header of this model cannot name pages %u-%u",
                             unsigned(f.session.begin_page), unsigned(f.session.end_page));
            return p;
        }
        if (f.session.end_page < f.session.begin_page ||
            uint64_t(f.session.offset_page) + (f.session.end_page - f.session.begin_page + 1) >
                image_pages) {
            p.why_not = strf(
                "pages %u-%u from image page %u do not lie inside the image's %u "
                "pages",
                unsigned(f.session.begin_page), unsigned(f.session.end_page),
                unsigned(f.session.offset_page), unsigned(image_pages));
            return p;
        }
        StepPlan s;
        s.flags = step;
        s.begin = f.session.begin_page;
        s.end = f.session.end_page;
        s.offset = f.session.offset_page;
        s.pages = f.session.end_page - f.session.begin_page + 1;
        s.banks = plan_banks(s.pages, s.begin).banks;
        p.steps.push_back(s);
    }
    p.ok = !p.steps.empty();
    if (!p.ok)
        p.why_not = "nothing is selected to send";
    return p;
}

void check_image(Report& r, Platform& walled, MessageCatalogue& catalogue, const FlashRun& cfg,
                 ImageFile& file) {
    std::vector<uint8_t> bytes;
    // The widest bound any model has; each model's own check applies its own.
    const FileReadResult read =
        walled.files.read_whole(file.name, bytes, layout::max_image_size(0));
    const std::string title = file.label + " " + shown(file.name);
    if (read.failed_at != FileStage::ok) {
        const std::string why = read.failed_at == FileStage::open ? "cannot be opened"
                                : read.failed_at == FileStage::too_large
                                    ? "is larger than any printer's image"
                                    : "cannot be read";
        const std::string text = strf("%s %s: %s", title.c_str(), why.c_str(),
                                      shown(walled.errors.error_text(read.error)).c_str());
        file.needed ? r.problem(text) : r.warning(text);
        return;
    }
    file.readable = true;
    std::string valid;
    for (int m = 1; m <= MODELS; ++m) {
        file.models[m] = plan_for(walled, catalogue, cfg, file.name, bytes, m);
        if (file.models[m].valid)
            valid += (valid.empty() ? "" : ", ") + strf("%d", m);
    }
    const bool boot = (cfg.config.send_mode & SEND_BOOT) && !(cfg.config.send_mode & SEND_FREE);
    r.line(strf("%s: %llu bytes; a valid %s image for model%s %s", title.c_str(),
                static_cast<unsigned long long>(bytes.size()), boot ? "boot" : "firmware",
                valid.find(',') != std::string::npos ? "s" : "",
                valid.empty() ? "none" : valid.c_str()));
    for (int m = 1; m <= MODELS; ++m) {
        const ModelPlan& p = file.models[m];
        if (!p.valid)
            continue;
        if (!p.ok) {
            r.line(strf("  model %d (%s): %s", m, model_name(m), p.why_not.c_str()));
            continue;
        }
        for (const StepPlan& s : p.steps) {
            r.line(
                strf("  model %d (%s): %s pages %u-%u from image page %u, %u page%s in %u "
                     "bank%s",
                     m, model_name(m), selection_text(s.flags).c_str(), s.begin, s.end, s.offset,
                     s.pages, s.pages == 1 ? "" : "s", s.banks, s.banks == 1 ? "" : "s"));
        }
    }
    if (valid.empty()) {
        std::string reasons;
        for (int m = 1; m <= MODELS; ++m)
            reasons += strf("\n           model %d: ", m) + file.models[m].why_not;
        const std::string text = title + ": not valid for any model:" + reasons;
        file.needed ? r.problem(text) : r.warning(text);
    } else if (std::none_of(std::begin(file.models), std::end(file.models),
                            [](const ModelPlan& p) { return p.ok; })) {
        const std::string text = title + ": the selection sends nothing to any model it is for";
        file.needed ? r.problem(text) : r.warning(text);
    }
    // The other kind of image, selected by SEND_BOOT: a likely mix-up.
    std::string other;
    for (int m = 1; m <= MODELS && std::none_of(std::begin(file.models), std::end(file.models),
                                                [](const ModelPlan& p) { return p.ok; });
         ++m) {
        const bool fits =
            boot
                ? check_fw_image(bytes.data(), bytes.size(), m).outcome.fault == ImageFault::none
                : check_boot_image(bytes.data(), bytes.size(), m).outcome.fault == ImageFault::none;
        if (fits)
            other += (other.empty() ? "" : ", ") + strf("%d", m);
    }
    if (!other.empty())
        r.line(strf("  it is a %s image for model%s %s; SEND_BOOT=%d selects that kind",
                    boot ? "firmware" : "boot", other.find(',') != std::string::npos ? "s" : "",
                    other.c_str(), boot ? 0 : 1));
}

// The [CONDITIONAL_TABLE] entries, as the update decision reads them.
std::vector<ImageFile> table_files(Report& r, Platform& platform, const char* ini,
                                   const std::vector<Line>& lines, bool needed) {
    std::vector<ImageFile> files;
    for (size_t i : entries_of(lines, TABLE)) {
        const std::string& key = lines[i].name;
        if (std::any_of(files.begin(), files.end(), [&](const ImageFile& f) {
                return same_name(f.label, "[" + std::string(TABLE) + "] " + key);
            }))
            continue;  // a later duplicate is never read
        char value[PATH_CHARS] = {};
        const uint32_t n =
            platform.profile.get_string(ini, TABLE, key.c_str(), "NOT_FOUND", value, sizeof value);
        const std::string k = upper(key);
        if (k.rfind("REL", 0) != 0 || k.find("VER", 3) == std::string::npos || k.size() > 20)
            r.warning(
                strf("line %u: [%s] %s can never match a printer's release (keys look "
                     "like Rel105VerA01)",
                     unsigned(i + 1), TABLE, shown(key).c_str()));
        if (n == 0) {
            r.problem(strf("line %u: [%s] %s has no file: that printer stops with [Error 13]",
                           unsigned(i + 1), TABLE, shown(key).c_str()));
            continue;
        }
        ImageFile f;
        f.label = "[" + std::string(TABLE) + "] " + key;
        f.name = value;
        f.needed = needed;
        files.push_back(std::move(f));
    }
    return files;
}

// ---- the port ----

struct PortState {
    bool ok = false;
    bool serial_open = false;
    uint32_t max_baud_flag = MAXBAUD_USER;
    bool max_baud_known = false;
};

// The printer a USB port name reaches: present and openable (pipes only, no session).
bool check_usb_port(Report& r, Platform& platform, const char* port_name) {
    const std::string name = shown(port_name);
    std::vector<UsbPrinterInfo> printers;
    if (!usb_port_name_ok(port_name)) {
        r.problem(
            strf("PORT=%s: a USB port is named USB and two digits, such as USB01", name.c_str()));
        return false;
    }
    if (!platform.usb.available()) {
        r.problem(strf("PORT=%s: the system's USB access could not be started", name.c_str()));
        return false;
    }
    usb_find_devices(platform.usb, printers);
    if (printers.empty()) {
        r.problem(
            strf("PORT=%s (USB): no printer with USB vendor id 0x7A1E is attached", name.c_str()));
        return false;
    }
    const UsbPrinterInfo* p = usb_choose_printer(printers, port_name);
    if (p == nullptr) {
        r.problem(strf("PORT=%s (USB): no attached printer has a port number", name.c_str()));
        return false;
    }
    if (platform.usb.open(*p) == nullptr) {
        r.problem(strf("PORT=%s (USB): %s is busy or cannot be opened", name.c_str(),
                       shown(p->hardware_id).c_str()));
        return false;
    }
    r.line(strf("PORT=%s: USB printer %s, present and free", name.c_str(),
                shown(p->hardware_id).c_str()));
    return true;
}

PortState check_port(Report& r, Platform& platform, const FlashRun& cfg) {
    PortState s;
    const std::string name = shown(cfg.config.port_name);
    if (cfg.config.port_type == LPT_PORT) {
        r.problem(
            strf("PORT=%s is a parallel port: every run stops with [Error 11]", name.c_str()));
        return s;
    }
    if (cfg.config.port_type == USB_PORT) {
        s.ok = check_usb_port(r, platform, cfg.config.port_name);
        return s;
    }
    std::unique_ptr<SerialDevice> device = platform.serial.open(cfg.config.port_name);
    if (device == nullptr) {
        switch (platform.serial.last_open_failure()) {
            case OpenFailure::not_found:
                r.problem(strf("PORT=%s (serial): no such port", name.c_str()));
                break;
            case OpenFailure::busy:
                r.problem(strf("PORT=%s (serial): in use by another program", name.c_str()));
                break;
            case OpenFailure::access_denied:
                r.problem(strf("PORT=%s (serial): no access. %s", name.c_str(),
                               platform.serial.access_denied_advice()));
                break;
            default:
                r.problem(
                    strf("PORT=%s (serial): cannot be opened: %s", name.c_str(),
                         shown(platform.errors.error_text(platform.errors.last_error())).c_str()));
                break;
        }
        return s;
    }
    uint32_t status = 0;
    const bool lines = device->modem_status(status);
    s.max_baud_known = device->max_baud(s.max_baud_flag);
    device.reset();  // opened only to see it is there and free
    r.line(strf("PORT=%s: serial port, present and free; %s", name.c_str(),
                !lines              ? "its modem lines cannot be read"
                : (status & DSR_ON) ? "DSR on (a printer is attached and on)"
                                    : "DSR off (no printer on, or not attached)"));
    s.ok = true;
    if (!s.max_baud_known) {
        r.problem(
            strf("PORT=%s: the port's properties cannot be read; a run stops at the "
                 "download header",
                 name.c_str()));
        s.ok = false;
    }
    std::string queue;
    if (cfg.report.mode() == INTERACTIVE_MODE &&
        !port_used_by_printer(platform, cfg.config.port_name, queue)) {
        r.problem(strf("PORT=%s is used by the printer queue \"%s\": an interactive run refuses it",
                       name.c_str(), shown(queue).c_str()));
        s.ok = false;
    }
    return s;
}

// ---- the estimate ----

void report_estimate(Report& r, const FlashRun& cfg, const PortState& port, bool spooler_runs,
                     const std::vector<ImageFile>& files) {
    const bool serial = cfg.config.port_type == COM_PORT;
    for (size_t i = 0; i < files.size(); ++i) {
        const ImageFile& file = files[i];
        if (std::any_of(files.begin(), files.begin() + long(i),
                        [&](const ImageFile& f) { return f.needed && f.name == file.name; }))
            continue;  // one estimate per file, however many entries name it
        for (int m = 1; m <= MODELS; ++m) {
            const ModelPlan& p = file.models[m];
            if (!file.needed || !p.ok)
                continue;
            uint64_t bytes = 0;
            for (const StepPlan& s : p.steps)
                bytes += uint64_t(s.pages) * PAGE_SIZE + 2ull * s.banks;
            uint32_t speed = cfg.config.send_baud;
            if (!keeps_download_speed(port.max_baud_flag))
                speed = 9600;
            if (m == VX3E_MODEL && speed == 115200 && cfg.config.config_baud == 4800)
                speed = 38400;
            std::string waits;
            uint64_t wait = 0;
            auto add = [&](const char* what, uint64_t ms, uint64_t times) {
                if (times == 0)
                    return;
                wait += ms * times;
                waits += strf("%s%s %.1f s", waits.empty() ? "" : ", ", what, ms * times / 1000.0);
            };
            const uint64_t steps = p.steps.size();
            if (serial && cfg.report.mode() != INTERACTIVE_MODE && spooler_runs)
                add("spooler stop", wait_ms::SPOOLER_STOP, 1);
            if (serial)
                add("listening for a printer in download mode", wait_ms::FORCED_SYNC_PROBE, steps);
            add("after the header", wait_ms::SPEED_SWITCH, steps);
            add("after the last bank", wait_ms::AFTER_LAST_BANK, steps);
            add("printer restart", wait_ms::PRINTER_RESTART, steps);
            add("between steps", wait_ms::STEP_PAUSE, steps - 1);
            const std::string head =
                strf("model %d (%s), %s:", m, model_name(m), shown(file.name).c_str());
            if (!serial) {
                r.line(
                    strf("%s %llu bytes over USB (no line rate to estimate from); fixed waits "
                         "%.1f s (%s)",
                         head.c_str(), static_cast<unsigned long long>(bytes), wait / 1000.0,
                         waits.c_str()));
                continue;
            }
            const double data_s = double(bytes) * 10 / speed;
            r.line(strf("%s data %llu bytes at %u bit/s: %.1f s; fixed waits %.1f s (%s)",
                        head.c_str(), static_cast<unsigned long long>(bytes),
                        static_cast<unsigned>(speed), data_s, wait / 1000.0, waits.c_str()));
            r.line(
                strf("  about %.0f s in all, plus the printer's programming time for each of "
                     "its banks",
                     data_s + wait / 1000.0));
        }
    }
    if (serial && !keeps_download_speed(port.max_baud_flag))
        r.line(
            strf("the port reports maximum-speed flag 0x%08x, which does not keep BAUD_SEND: "
                 "downloads run at 9600 bit/s",
                 unsigned(port.max_baud_flag)));
}

}  // namespace

int preflight_check(Platform& platform, std::string& text) {
    ReadOnlyFiles files(platform.files);
    RecordingProfile profile(platform.profile);
    NoServices services(platform.services);
    Platform walled{platform.clock, platform.errors,   files,
                    profile,        platform.serial,   platform.ui,
                    services,       platform.printers, platform.registry,
                    platform.usb,   platform.parallel};
    Report r;

    const std::string dir = files.startup_directory();
    const std::string ini = dir.empty() ? std::string() : build_path(walled, dir, "flash.ini");
    r.text = "vxflash preflight check of " + shown(dir) + "\n";
    r.heading("flash.ini");
    if (ini.empty() || !files.exists(ini)) {
        r.problem("flash.ini is missing: every run stops with [Error 1]");
        r.text += "\nNO model can run: 1 problem\n";
        text = r.text;
        return 1;
    }
    std::vector<uint8_t> ini_bytes;
    files.read_whole(ini, ini_bytes, MAX_CATALOGUE_BYTES);
    const std::vector<Line> lines =
        profile_lines::parse(std::string(ini_bytes.begin(), ini_bytes.end()));

    MessageCatalogue catalogue(walled);
    FlashRun cfg(walled, catalogue);
    std::snprintf(cfg.config.ini_path, sizeof cfg.config.ini_path, "%s", ini.c_str());
    cfg.read_config();
    cfg.read_port_settings();
    report_keys(r, profile, lines);
    bool speed_ok = true;
    report_ranges(r, cfg, speed_ok);
    const bool has_filename = cfg.config.fw_filename[0] != '\0';
    if (!has_filename)
        r.problem(
            "[GENERAL] FILENAME is missing or empty: a run reads no other key of "
            "[GENERAL] and [INTERNAL] and has no image to send");

    r.heading("run");
    const bool uses_table = cfg.report.mode() != INTERACTIVE_MODE && cfg.config.conditional_table;
    const bool spooler = spooler_running(services);
    report_run_mode(r, cfg, uses_table, spooler);
    const bool nothing = cfg.config.send_mode == 0;
    if (nothing && has_filename) {
        const char* text_nothing =
            "nothing is selected to send (SEND_FW, SEND_CG, SEND_FPGA and "
            "SEND_BOOT are all 0)";
        cfg.report.mode() == INTERACTIVE_MODE ? r.warning(text_nothing) : r.problem(text_nothing);
    }

    r.heading("flash.mes");
    bool mes_present = false;
    const std::string mes = build_path(walled, dir, "flash.mes");
    report_catalogue(r, walled, mes, catalogue, mes_present);

    r.heading("images");
    std::vector<ImageFile> images;
    bool table_ok = true;
    if (cfg.config.conditional_table) {
        if (!profile.has_section(cfg.config.ini_path, TABLE)) {
            table_ok = !uses_table;
            const std::string t =
                "CONDITIONAL_TABLE=1 but flash.ini has no [CONDITIONAL_TABLE]: "
                "every printer stops with [Error 13]";
            uses_table ? r.problem(t) : r.warning(t);
        }
        images = table_files(r, walled, cfg.config.ini_path, lines, uses_table);
        if (uses_table && images.empty() && table_ok) {
            r.problem("[CONDITIONAL_TABLE] names no file: no printer is updated");
            table_ok = false;
        }
    }
    if (has_filename) {
        ImageFile f;
        f.label = "FILENAME";
        f.name = cfg.config.fw_filename;
        f.needed = !uses_table;
        if (uses_table)
            r.line("FILENAME " + shown(f.name) + " is not sent: the release picks the file");
        else
            images.insert(images.begin(), std::move(f));
    }
    for (ImageFile& f : images)
        check_image(r, walled, catalogue, cfg, f);

    r.heading("port");
    const PortState port = check_port(r, walled, cfg);

    // A model can run when every file a run may send works for it.
    std::string ready;
    for (int m = 1; m <= MODELS; ++m) {
        bool ok = has_filename && !nothing && mes_present && speed_ok && table_ok && port.ok;
        bool any = false;
        for (const ImageFile& f : images) {
            if (!f.needed)
                continue;
            any = true;
            ok = ok && f.readable && f.models[m].ok;
        }
        if (ok && any)
            ready += (ready.empty() ? "" : ", ") + strf("%d (%s)", m, model_name(m));
    }

    r.heading(cfg.config.port_type == USB_PORT ? "estimate (USB)"
                                               : "estimate (data at the download speed, 10 bits a "
                                                 "byte; the protocol's fixed waits apart)");
    report_estimate(r, cfg, port, spooler, images);

    // Files that each fit some model, but no model in common: a mix-up in the table.
    std::string fits;
    bool each_fits = true, common = false;
    for (int m = 1; m <= MODELS; ++m) {
        common = common || std::all_of(images.begin(), images.end(), [m](const ImageFile& f) {
                     return !f.needed || f.models[m].ok;
                 });
    }
    for (const ImageFile& f : images) {
        std::string models;
        for (int m = 1; m <= MODELS; ++m) {
            if (f.models[m].ok)
                models += (models.empty() ? "" : ", ") + strf("%d", m);
        }
        each_fits = each_fits && (!f.needed || !models.empty());
        const std::string entry = "\n           " + shown(f.name) + ": ";
        if (f.needed && fits.find(entry) == std::string::npos)
            fits += entry + (models.empty() ? "none" : models);
    }
    if (each_fits && !common)
        r.problem(
            "the files a run may send are for different models; each printer model must "
            "take every one of them:" +
            fits);

    r.text += "\n";
    const std::string counts =
        strf("%d problem%s, %d warning%s", r.problems, r.problems == 1 ? "" : "s", r.warnings,
             r.warnings == 1 ? "" : "s");
    if (ready.empty()) {
        r.text += "NO model can run: " + counts + "\n";
        text = r.text;
        return 1;
    }
    r.text += "a run can succeed for model" +
              std::string(ready.find(',') != std::string::npos ? "s " : " ") + ready + "; " +
              counts + "\n";
    text = r.text;
    return 0;
}

bool save_check_report(FileSystem& files, const std::string& report) {
    WriteOpen opened = files.open_for_writing(CHECK_REPORT_FILE, false);
    UniqueFile& f = opened.file;
    if (!f)
        return false;
    const bool written = std::fwrite(report.data(), 1, report.size(), f.get()) == report.size();
    return std::fflush(f.get()) == 0 && written;
}

bool has_option(const std::string& command_line, const char* option) {
    size_t i = 0;
    const size_t n = command_line.size();
    bool first = true;
    while (i < n) {
        while (i < n && (command_line[i] == ' ' || command_line[i] == '\t'))
            ++i;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || (command_line[i] != ' ' && command_line[i] != '\t'))) {
            if (command_line[i] == '"')
                quoted = !quoted;
            else
                arg += command_line[i];
            ++i;
        }
        if (!first && !arg.empty() && upper(arg) == upper(option))
            return true;
        first = false;
    }
    return false;
}

}  // namespace vx
