// printer-sim: plays the printer on the master side of a pseudo-terminal pair, so the real
// serial code of vxflash (or of vxflash.exe under Wine) can talk to it through the slave.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "printer.h"
#include "usb_session.h"

namespace {

const char* const USAGE = R"(usage: printer-sim [options]

Plays a printer of the VX3E/VX3plus/KD5 families on a pseudo-terminal. The slave device
path is printed on standard output; point the program under test at it (or at --link).

Printer:
  --model N             printer model 1-6 (sync 0x05 0x16 0x17 0x18 0x1a 0x20); default 3
  --forced-sync[=MS]    announce the sync character every MS ms (default 100) until the
                        host sends a byte; again after every finished or abandoned download
  --sync-char HEX       answer the download command with this byte (a wrong sync character)
  --silent              never send anything
  --stray HEX[,HEX...]  bytes sent once at start, before anything else (repeatable)
  --fault SCRIPT        reply script of a bank (repeatable). SCRIPT is BANK:LIST or BANK+:LIST
                        (that bank and every later one); banks count from 0 in sending order.
                        LIST: comma-separated hex bytes, "ok" (the sync character),
                        "silence" (never answer again), "lost" (programmed and acknowledged,
                        but the reply never reaches the host), BYTExN (N times). A script
                        that ends without an acknowledgement ends with ok; after 06 the
                        printer expects the same bank again (data and check bytes).
                        e.g. 2:06   1:00x3,ok   1:03,ok   0:07   0:01   3+:silence   1:lost
  --hang-up-in-bank BANK:BYTES  the line goes away once BYTES data bytes of bank BANK
                        arrived: the program ends there, as if unplugged (pages already
                        acknowledged are still written to --pages-out)
  --reset-in-bank BANK:BYTES[:HEX,...]  the printer restarts once BYTES data bytes of bank
                        BANK arrived: it sends the bytes given (default ff,00,55,aa) and
                        nothing after them
  --stall-in-bank BANK:BYTES  the printer stops taking bytes once BYTES data bytes of bank
                        BANK arrived: it reads nothing more from the line or the USB pipe and
                        stays silent, the line still open
  --on-header CMD       run CMD with /bin/sh each time a header is accepted, before the
                        printer answers it (waits for CMD to end)
  --header-ack HEX|none byte sent right after the header (default: the sync character)
  --ready-ms MS|none    the sync character follows the header this late (default 2500)
  --program-ms MS       programming time of each bank before its reply (default 0)
  --reply-gap-ms MS     time between the steps of a reply script (default 20)
  --stall-ms MS         a transfer idle this long is abandoned (default 20000)

Firmware release and IBM 4722 emulation:
  --release TEXT        answer the release request (ESC SP b) with TEXT framed by two bytes
                        on each side, 02 20 TEXT 20 03 (default 1.05;A01;)
  --release-raw HEX[,HEX...]  answer the release request with exactly these bytes
  --release-silent      never answer the release request
  --emulation STATE,SETTING   the printer runs the emulation: it answers the ESC [ c dialogue
                        with 8-byte replies (state byte at 3, setting byte at 6, hex), applies
                        the setting commands' upper digit (a setting command whose seventh
                        byte is c5 reads as a state query) and, while STATE is 09, 0b, 0d or
                        0f, ignores the download command until the final command switches
                        the emulation off. e.g. --emulation 0b,a2
  --modem-log PATH      the host's RTS/DTR changes as the modem shim logs them ("RTS=1" lines);
                        the transcript names RTS at each emulation command

Line:
  --line-rate BITS      read no faster than BITS/10 bytes per second (default: unlimited)
  --dsr on|off          DSR line, written to the modem file for the modem-status shim
  --modem-file PATH     file the shim reads (default: $VX_MODEM_FILE)

Files:
  --link PATH           make PATH a symbolic link to the slave device
  --ready-file PATH     write the slave path there once listening
  --transcript FILE     time-stamped log: "t=<ms>ms RX|TX <hex>" and "t=<ms>ms EV <text>"
  --transcript-full     log every byte (default: at most 64 bytes of a line, then a count)
  --pages-out DIR       write each received flash page as DIR/page-NNNN.bin, and
                        DIR/pages.txt with "page writes" per line
  --stats FILE          write key=value timing of each download at exit

USB (instead of a pseudo-terminal):
  --usb-socket PATH     serve the printer's USB pipes on a Unix socket at PATH: each OUT
                        transfer comes as a 4-byte little-endian length and its bytes; what
                        the printer sends on the IN pipe goes back as plain bytes. The host
                        side (the umockdev helper, the Wine test driver) connects to it.
  --usb-tcp PORT        the same on TCP 127.0.0.1:PORT (0: any free port); the port in use
                        is what --ready-file gets (Wine's Winsock has no Unix sockets)
  --usb-handshake ANSWER  answer to the session open 0x02: ack (0x06, default), nak (0x15),
                        none, or a hex byte
  --usb-stray HEX[,HEX...]  bytes sent after each bank's data, before its check bytes

Ending (the program always ends by itself):
  --exit-after-downloads N  end once N downloads completed and the reply went out
  --exit-after-banks N      end once N banks were acknowledged
  --timeout SECONDS         end after this long in any case (default 120); exit code 3
  --help                    this text

Exit codes: 0 ended by a condition or a signal, 2 bad usage, 3 time-out, 1 pty failure.
)";

volatile sig_atomic_t g_stop = 0;
void on_signal(int) {
    g_stop = 1;
}

uint64_t mono_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

bool parse_uint(const std::string& s, uint64_t max, uint64_t& out) {
    if (s.empty() || s.size() > 12 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoull(s);
    return out <= max;
}

using vxsim::parse_hex_byte;
using vxsim::parse_hex_list;

bool write_file_atomic(const std::string& path, const std::string& text) {
    std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        if (!out)
            return false;
        out << text;
        if (!out)
            return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

struct Options {
    vxsim::Config cfg;
    uint64_t line_rate = 0;
    int dsr = -1;  // -1: leave the modem file alone
    std::string modem_file, link, ready_file, transcript, pages_out, stats, modem_log;
    bool transcript_full = false;
    uint64_t exit_after_downloads = 0, exit_after_banks = 0, timeout_s = 120;
    std::string usb_socket;
    int usb_tcp = -1;  // TCP port for the USB pipes; -1: not used
    vxsim::UsbConfig usb;
    std::string on_header;
};

int usage_error(const std::string& msg) {
    std::fprintf(stderr, "printer-sim: %s (see --help)\n", msg.c_str());
    return 2;
}

// Options of the commands outside the download; returns an error text, empty when fine.
template <typename Need>
std::string parse_command_option(const std::string& a, Need& need, Options& o) {
    std::string s;
    if (a == "--release-silent") {
        o.cfg.release.kind = vxsim::ReleaseAnswer::silence;
    } else if (a == "--release") {
        if (!need(s) || s.size() > 96)
            return "--release needs a text of at most 96 characters";
        o.cfg.release.kind = vxsim::ReleaseAnswer::text;
        o.cfg.release.release = s;
    } else if (a == "--release-raw") {
        if (!need(s))
            return "--release-raw needs bytes";
        o.cfg.release.kind = vxsim::ReleaseAnswer::raw;
        o.cfg.release.bytes.clear();
        if (std::string bad; !parse_hex_list(s, o.cfg.release.bytes, bad))
            return "--release-raw: bad byte '" + bad + "'";
    } else if (a == "--emulation") {
        size_t comma = 0;
        uint8_t state = 0, setting = 0;
        if (!need(s) || (comma = s.find(',')) == std::string::npos ||
            !parse_hex_byte(s.substr(0, comma), state) ||
            !parse_hex_byte(s.substr(comma + 1), setting))
            return "--emulation needs STATE,SETTING (hex bytes)";
        o.cfg.emulation.present = true;
        o.cfg.emulation.state = state;
        o.cfg.emulation.setting = setting;
    } else if (a == "--modem-log") {
        if (!need(o.modem_log))
            return "--modem-log needs a path";
    }
    return "";
}

// Faults in the middle of a bank and the header hook; returns an error text, empty when fine.
template <typename Need>
std::string parse_cut_option(const std::string& a, Need& need, Options& o) {
    std::string s, error;
    if (a == "--on-header") {
        if (!need(o.on_header) || o.on_header.empty())
            return "--on-header needs a command";
        return "";
    }
    const auto action = a == "--reset-in-bank"   ? vxsim::BankCut::reset
                        : a == "--stall-in-bank" ? vxsim::BankCut::stall
                                                 : vxsim::BankCut::hang_up;
    vxsim::BankCut cut;
    if (!need(s))
        return a + " needs BANK:BYTES";
    if (!vxsim::parse_bank_cut(s, action, cut, error))
        return a + " " + s + ": " + error;
    o.cfg.cut = cut;
    return "";
}

// The host's RTS as the modem shim last logged it; read again only when the log grew.
class RtsWatch {
public:
    explicit RtsWatch(std::string path) : path_(std::move(path)) {}
    void update(vxsim::Printer& printer) {
        struct stat st {};
        if (path_.empty() || stat(path_.c_str(), &st) != 0 || st.st_size == size_)
            return;
        size_ = st.st_size;
        std::ifstream in(path_);
        std::string line;
        int rts = -1;
        while (std::getline(in, line)) {
            if (line == "RTS=1")
                rts = 1;
            else if (line == "RTS=0")
                rts = 0;
        }
        if (rts >= 0)
            printer.set_rts(rts == 1);
    }

private:
    std::string path_;
    off_t size_ = -1;
};

// Returns -1 to go on, otherwise an exit code.
int parse_args(int argc, char** argv, Options& o) {
    if (const char* env = std::getenv("VX_MODEM_FILE"))
        o.modem_file = env;
    o.cfg.header_ack = std::nullopt;
    bool ack_set = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string value;
        bool has_value = false;
        size_t eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
            has_value = true;
        }
        auto need = [&](std::string& out) {
            if (has_value) {
                out = value;
                return true;
            }
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        auto need_uint = [&](uint64_t max, uint64_t& out) {
            std::string s;
            return need(s) && parse_uint(s, max, out);
        };
        uint64_t n = 0;
        std::string s;
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (a == "--model") {
            if (!need_uint(6, n) || n < 1)
                return usage_error("--model needs 1 to 6");
            o.cfg.model = static_cast<int>(n);
        } else if (a == "--forced-sync") {
            o.cfg.forced_sync_ms = 100;
            if (has_value) {
                if (!parse_uint(value, 60000, n) || n == 0)
                    return usage_error("--forced-sync=MS needs 1 to 60000");
                o.cfg.forced_sync_ms = static_cast<uint32_t>(n);
            }
        } else if (a == "--sync-char") {
            uint8_t b = 0;
            if (!need(s) || !parse_hex_byte(s, b))
                return usage_error("--sync-char needs a hex byte");
            o.cfg.sync_char = b;
        } else if (a == "--silent") {
            o.cfg.silent = true;
        } else if (a == "--stray") {
            if (!need(s))
                return usage_error("--stray needs bytes");
            if (std::string bad; !parse_hex_list(s, o.cfg.stray, bad))
                return usage_error("--stray: bad byte '" + bad + "'");
        } else if (a == "--fault") {
            vxsim::BankFault f;
            std::string err;
            if (!need(s))
                return usage_error("--fault needs a reply script");
            if (!vxsim::parse_fault(s, f, err))
                return usage_error("--fault " + s + ": " + err);
            o.cfg.faults.push_back(f);
        } else if (a == "--header-ack") {
            if (!need(s))
                return usage_error("--header-ack needs a hex byte or none");
            ack_set = true;
            uint8_t b = 0;
            if (s == "none") {
                o.cfg.header_ack = std::nullopt;
            } else if (parse_hex_byte(s, b)) {
                o.cfg.header_ack = b;
            } else {
                return usage_error("--header-ack needs a hex byte or none");
            }
        } else if (a == "--ready-ms") {
            if (!need(s))
                return usage_error("--ready-ms needs MS or none");
            if (s == "none") {
                o.cfg.send_ready = false;
            } else if (parse_uint(s, 600000, n)) {
                o.cfg.ready_ms = static_cast<uint32_t>(n);
            } else {
                return usage_error("--ready-ms needs MS or none");
            }
        } else if (a == "--program-ms") {
            if (!need_uint(600000, n))
                return usage_error("--program-ms needs MS");
            o.cfg.program_ms = static_cast<uint32_t>(n);
        } else if (a == "--reply-gap-ms") {
            if (!need_uint(600000, n))
                return usage_error("--reply-gap-ms needs MS");
            o.cfg.reply_gap_ms = static_cast<uint32_t>(n);
        } else if (a == "--stall-ms") {
            if (!need_uint(3600000, n))
                return usage_error("--stall-ms needs MS");
            o.cfg.stall_ms = static_cast<uint32_t>(n);
        } else if (a == "--release" || a == "--release-raw" || a == "--release-silent" ||
                   a == "--emulation" || a == "--modem-log") {
            const std::string error = parse_command_option(a, need, o);
            if (!error.empty())
                return usage_error(error);
        } else if (a == "--hang-up-in-bank" || a == "--reset-in-bank" || a == "--stall-in-bank" ||
                   a == "--on-header") {
            const std::string error = parse_cut_option(a, need, o);
            if (!error.empty())
                return usage_error(error);
        } else if (a == "--line-rate") {
            if (!need_uint(100000000, n))
                return usage_error("--line-rate needs bits per second");
            o.line_rate = n;
        } else if (a == "--dsr") {
            if (!need(s) || (s != "on" && s != "off"))
                return usage_error("--dsr needs on or off");
            o.dsr = s == "on" ? 1 : 0;
        } else if (a == "--modem-file") {
            if (!need(o.modem_file))
                return usage_error("--modem-file needs a path");
        } else if (a == "--link") {
            if (!need(o.link))
                return usage_error("--link needs a path");
        } else if (a == "--ready-file") {
            if (!need(o.ready_file))
                return usage_error("--ready-file needs a path");
        } else if (a == "--transcript") {
            if (!need(o.transcript))
                return usage_error("--transcript needs a file");
        } else if (a == "--transcript-full") {
            o.transcript_full = true;
        } else if (a == "--pages-out") {
            if (!need(o.pages_out))
                return usage_error("--pages-out needs a directory");
        } else if (a == "--stats") {
            if (!need(o.stats))
                return usage_error("--stats needs a file");
        } else if (a == "--exit-after-downloads") {
            if (!need_uint(1000000, n))
                return usage_error("--exit-after-downloads needs N");
            o.exit_after_downloads = n;
        } else if (a == "--exit-after-banks") {
            if (!need_uint(100000000, n))
                return usage_error("--exit-after-banks needs N");
            o.exit_after_banks = n;
        } else if (a == "--usb-socket") {
            if (!need(o.usb_socket))
                return usage_error("--usb-socket needs a path");
        } else if (a == "--usb-tcp") {
            if (!need_uint(65535, n))
                return usage_error("--usb-tcp needs a port (0 to 65535)");
            o.usb_tcp = static_cast<int>(n);
        } else if (a == "--usb-handshake") {
            if (!need(s) || !vxsim::parse_handshake(s, o.usb.handshake_reply))
                return usage_error("--usb-handshake needs ack, nak, none or a hex byte");
        } else if (a == "--usb-stray") {
            if (!need(s))
                return usage_error("--usb-stray needs bytes");
            if (std::string bad; !parse_hex_list(s, o.usb.stray_after_bank, bad))
                return usage_error("--usb-stray: bad byte '" + bad + "'");
        } else if (a == "--timeout") {
            if (!need_uint(86400, n) || n == 0)
                return usage_error("--timeout needs 1 to 86400 seconds");
            o.timeout_s = n;
        } else {
            return usage_error("unknown option " + a);
        }
    }
    if (!ack_set)
        o.cfg.header_ack = vxsim::model_sync_char(o.cfg.model);
    if (o.dsr < 0 && !o.modem_file.empty())
        o.dsr = 1;
    return -1;
}

class TranscriptWriter {
public:
    TranscriptWriter(const std::string& path, bool full) : full_(full) {
        if (!path.empty())
            file_ = std::fopen(path.c_str(), "w");
    }
    ~TranscriptWriter() {
        if (file_)
            std::fclose(file_);
    }
    TranscriptWriter(const TranscriptWriter&) = delete;
    TranscriptWriter& operator=(const TranscriptWriter&) = delete;
    bool failed(const std::string& path) const { return !path.empty() && !file_; }

    // Writes the entries added since the last call. The last entry may still grow (bytes of
    // the same millisecond are merged), so it is written only once a later one exists or
    // `all` is set.
    void flush(const vxsim::Printer& p, bool all) {
        if (!file_)
            return;
        const auto& t = p.transcript();
        size_t end = all ? t.size() : (t.empty() ? 0 : t.size() - 1);
        for (; next_ < end; ++next_)
            write(t[next_]);
        std::fflush(file_);
    }

private:
    void write(const vxsim::TranscriptEntry& e) {
        unsigned long long ms = e.t_ms;
        if (e.dir == vxsim::TranscriptEntry::event) {
            std::fprintf(file_, "t=%llums EV %s\n", ms, e.text.c_str());
            return;
        }
        std::fprintf(file_, "t=%llums %s", ms, e.dir == vxsim::TranscriptEntry::rx ? "RX" : "TX");
        size_t shown = full_ ? e.bytes.size() : std::min<size_t>(e.bytes.size(), 64);
        for (size_t i = 0; i < shown; ++i)
            std::fprintf(file_, " %02x", e.bytes[i]);
        if (shown < e.bytes.size())
            std::fprintf(file_, " ... (%zu bytes)", e.bytes.size());
        std::fputc('\n', file_);
    }
    std::FILE* file_ = nullptr;
    size_t next_ = 0;
    bool full_ = false;
};

void run_on_header(const std::string& command, vxsim::Printer& printer, uint64_t now) {
    const int status = std::system(command.c_str());
    printer.note(now, "on-header command ended with status " + std::to_string(status));
}

bool write_pages(const std::string& dir, const vxsim::Printer& p) {
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    std::string index;
    for (const auto& [page, data] : p.flash()) {
        char name[32];
        std::snprintf(name, sizeof name, "/page-%04u.bin", static_cast<unsigned>(page));
        std::ofstream out(dir + name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
        if (!out)
            return false;
        index += std::to_string(page) + " " + std::to_string(p.page_writes().at(page)) + "\n";
    }
    return write_file_atomic(dir + "/pages.txt", index);
}

bool write_stats(const std::string& path, const vxsim::Printer& p, uint64_t line_rate) {
    std::string s;
    s += "downloads=" + std::to_string(p.downloads().size()) + "\n";
    s += "line_rate=" + std::to_string(line_rate) + "\n";
    s += "program_ms=" + std::to_string(p.config().program_ms) + "\n";
    s += "check_failures=" + std::to_string(p.check_failures()) + "\n";
    size_t i = 0;
    for (const auto& d : p.downloads()) {
        std::string k = "d" + std::to_string(i++) + ".";
        s += k + "header_ms=" + std::to_string(d.header_ms) + "\n";
        s += k + "first_data_ms=" + std::to_string(d.first_data_ms) + "\n";
        s += k + "done_ms=" + std::to_string(d.done_ms) + "\n";
        s += k + "data_bytes=" + std::to_string(d.data_bytes) + "\n";
        s += k + "banks=" + std::to_string(d.banks) + "\n";
        s += k + "baud=" + std::to_string(d.baud) + "\n";
        s += k + "complete=" + std::to_string(d.complete ? 1 : 0) + "\n";
    }
    return write_file_atomic(path, s);
}

// ---- USB: the session served on a Unix socket ----

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

bool send_all(int fd, const uint8_t* data, size_t n) {
    while (n > 0) {
        ssize_t w = send(fd, data, n, MSG_NOSIGNAL);
        if (w > 0) {
            data += w;
            n -= static_cast<size_t>(w);
        } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
            usleep(1000);
        } else {
            return false;
        }
    }
    return true;
}

// The listening socket for the USB pipes and the name the host side connects to: the socket
// path, or the TCP port on 127.0.0.1.
int usb_listen(const Options& o, std::string& name) {
    if (o.usb_tcp >= 0) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_port = htons(static_cast<uint16_t>(o.usb_tcp));
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof in;
        const int on = 1;
        if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0 || listen(fd, 4) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&in), &len) != 0) {
            std::perror("printer-sim: usb tcp");
            if (fd >= 0)
                close(fd);
            return -1;
        }
        name = std::to_string(ntohs(in.sin_port));
        return fd;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (fd < 0 || o.usb_socket.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "printer-sim: bad socket path %s\n", o.usb_socket.c_str());
        if (fd >= 0)
            close(fd);
        return -1;
    }
    std::memcpy(addr.sun_path, o.usb_socket.c_str(), o.usb_socket.size() + 1);
    unlink(o.usb_socket.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
        std::perror("printer-sim: usb socket");
        close(fd);
        return -1;
    }
    name = o.usb_socket;
    return fd;
}

int run_usb(const Options& o) {
    std::string name;
    Fd listener(usb_listen(o, name));
    if (listener.get() < 0)
        return 1;

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const uint64_t origin = mono_ms();
    auto now = [&] { return mono_ms() - origin; };
    vxsim::Printer printer(o.cfg, 0);
    vxsim::UsbSession session(printer, o.usb);
    TranscriptWriter transcript(o.transcript, o.transcript_full);
    if (transcript.failed(o.transcript)) {
        std::fprintf(stderr, "printer-sim: cannot write %s\n", o.transcript.c_str());
        return 1;
    }
    std::printf("%s\n", name.c_str());
    std::fflush(stdout);
    if (!o.ready_file.empty() && !write_file_atomic(o.ready_file, name + "\n")) {
        std::fprintf(stderr, "printer-sim: cannot write %s\n", o.ready_file.c_str());
        return 1;
    }

    Fd conn;
    std::vector<uint8_t> frame;  // bytes of OUT frames not yet complete
    std::vector<uint8_t> buf(65536 + 4);
    const uint64_t deadline = o.timeout_s * 1000;
    uint64_t done_at = 0;
    int exit_code = 0;
    while (!g_stop) {
        const uint64_t t = now();
        if (t >= deadline) {
            std::fprintf(stderr, "printer-sim: time-out after %llu s\n",
                         static_cast<unsigned long long>(o.timeout_s));
            exit_code = 3;
            break;
        }
        std::vector<uint8_t> out = session.take_output(t);
        if (!out.empty() && conn.get() >= 0 && !send_all(conn.get(), out.data(), out.size()))
            conn.reset();
        transcript.flush(printer, false);

        bool done =
            (o.exit_after_downloads && printer.downloads_done() >= o.exit_after_downloads) ||
            (o.exit_after_banks && printer.banks_acked() >= o.exit_after_banks);
        if (done && !done_at)
            done_at = t;
        if (done_at && t >= done_at + 300)
            break;

        int wait = 50;
        if (auto due = session.next_due())
            wait = static_cast<int>(std::min<uint64_t>(wait, *due > t ? *due - t : 0));
        if (printer.stalled()) {
            usleep(static_cast<useconds_t>(wait) * 1000);  // the pipe takes nothing more
            continue;
        }
        pollfd pfd{conn.get() >= 0 ? conn.get() : listener.get(), POLLIN, 0};
        if (poll(&pfd, 1, wait) <= 0 || !(pfd.revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        if (conn.get() < 0) {
            conn.reset(accept(listener.get(), nullptr, nullptr));
            const int on = 1;  // the printer's short replies go out at once
            if (o.usb_tcp >= 0 && conn.get() >= 0)
                setsockopt(conn.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            frame.clear();
            continue;
        }
        ssize_t r = recv(conn.get(), buf.data(), buf.size(), 0);
        if (r <= 0) {
            if (r == 0 || (errno != EAGAIN && errno != EINTR))
                conn.reset();  // the host side went away; wait for the next one
            continue;
        }
        frame.insert(frame.end(), buf.begin(), buf.begin() + r);
        size_t at = 0;
        while (frame.size() - at >= 4) {
            const uint32_t len = frame[at] | frame[at + 1] << 8 | frame[at + 2] << 16 |
                                 static_cast<uint32_t>(frame[at + 3]) << 24;
            if (frame.size() - at - 4 < len)
                break;
            session.write(frame.data() + at + 4, len, now());
            at += 4 + len;
        }
        frame.erase(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(at));
    }

    transcript.flush(printer, true);
    if (!o.pages_out.empty() && !write_pages(o.pages_out, printer)) {
        std::fprintf(stderr, "printer-sim: cannot write pages to %s\n", o.pages_out.c_str());
        exit_code = 1;
    }
    if (!o.stats.empty() && !write_stats(o.stats, printer, o.line_rate)) {
        std::fprintf(stderr, "printer-sim: cannot write %s\n", o.stats.c_str());
        exit_code = 1;
    }
    if (o.usb_tcp < 0)
        unlink(o.usb_socket.c_str());
    return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int rc = parse_args(argc, argv, o);
    if (rc >= 0)
        return rc;
    if (!o.usb_socket.empty() || o.usb_tcp >= 0)
        return run_usb(o);

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("printer-sim: posix_openpt");
        return 1;
    }
    const char* name = ptsname(master);
    if (!name) {
        std::perror("printer-sim: ptsname");
        return 1;
    }
    std::string slave_path = name;
    // Keep the slave open ourselves: the master then never sees a hang-up when the program
    // under test closes and reopens the port between steps.
    int slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0) {
        std::perror("printer-sim: open slave");
        return 1;
    }
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B9600);
        cfsetospeed(&tio, B9600);
        tcsetattr(slave, TCSANOW, &tio);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    if (o.dsr >= 0 && !o.modem_file.empty() &&
        !write_file_atomic(o.modem_file, o.dsr ? "DSR=1\n" : "DSR=0\n")) {
        std::fprintf(stderr, "printer-sim: cannot write %s\n", o.modem_file.c_str());
        return 1;
    }
    if (!o.link.empty()) {
        struct stat st {};
        if (lstat(o.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            unlink(o.link.c_str());
        if (symlink(slave_path.c_str(), o.link.c_str()) != 0) {
            std::perror("printer-sim: symlink");
            return 1;
        }
    }

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const uint64_t origin = mono_ms();
    auto now = [&] { return mono_ms() - origin; };
    vxsim::Printer printer(o.cfg, 0);
    RtsWatch rts_watch(o.modem_log);
    TranscriptWriter transcript(o.transcript, o.transcript_full);
    if (transcript.failed(o.transcript)) {
        std::fprintf(stderr, "printer-sim: cannot write %s\n", o.transcript.c_str());
        return 1;
    }
    std::printf("%s\n", slave_path.c_str());
    std::fflush(stdout);
    if (!o.ready_file.empty() && !write_file_atomic(o.ready_file, slave_path + "\n")) {
        std::fprintf(stderr, "printer-sim: cannot write %s\n", o.ready_file.c_str());
        return 1;
    }

    // Token bucket for the line rate: at most 20 ms worth of bytes in one burst.
    const double bytes_per_ms = o.line_rate ? static_cast<double>(o.line_rate) / 10.0 / 1000.0 : 0;
    const double burst = o.line_rate ? std::max(1.0, bytes_per_ms * 20) : 0;
    double tokens = burst;
    uint64_t refilled = 0;

    const uint64_t deadline = o.timeout_s * 1000;
    uint64_t done_at = 0;  // when an exit condition was met
    int exit_code = 0;
    std::vector<uint8_t> buf(65536);
    while (!g_stop) {
        uint64_t t = now();
        if (t >= deadline) {
            std::fprintf(stderr, "printer-sim: time-out after %llu s\n",
                         static_cast<unsigned long long>(o.timeout_s));
            exit_code = 3;
            break;
        }
        std::vector<uint8_t> out = printer.take_output(t);
        size_t off = 0;
        while (off < out.size()) {
            ssize_t w = write(master, out.data() + off, out.size() - off);
            if (w > 0) {
                off += static_cast<size_t>(w);
            } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
                usleep(1000);
            } else {
                break;
            }
        }
        transcript.flush(printer, false);

        bool done =
            (o.exit_after_downloads && printer.downloads_done() >= o.exit_after_downloads) ||
            (o.exit_after_banks && printer.banks_acked() >= o.exit_after_banks);
        if (done && !done_at)
            done_at = t;
        if (done_at && t >= done_at + 300)
            break;  // let the last reply reach the host

        if (o.line_rate) {
            tokens = std::min(burst, tokens + static_cast<double>(t - refilled) * bytes_per_ms);
            refilled = t;
        }
        int wait = 50;
        if (auto due = printer.next_due())
            wait = static_cast<int>(std::min<uint64_t>(wait, *due > t ? *due - t : 0));
        if (printer.stalled()) {
            usleep(static_cast<useconds_t>(wait) * 1000);  // bytes stay in the line's queue
            continue;
        }
        pollfd pfd{master, POLLIN, 0};
        bool can_read = !o.line_rate || tokens >= 1.0;
        if (!can_read) {
            int need = static_cast<int>((1.0 - tokens) / bytes_per_ms) + 1;
            usleep(static_cast<useconds_t>(std::min(wait, need)) * 1000);
            continue;
        }
        int pr = poll(&pfd, 1, wait);
        if (pr <= 0 || !(pfd.revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        size_t want = buf.size();
        if (o.line_rate)
            want = std::min<size_t>(want, static_cast<size_t>(tokens));
        ssize_t r = read(master, buf.data(), want);
        if (r > 0) {
            if (o.line_rate)
                tokens -= static_cast<double>(r);
            rts_watch.update(printer);  // the host set its lines before it wrote these bytes
            const size_t headers = printer.headers().size();
            printer.receive(buf.data(), static_cast<size_t>(r), now());
            if (!o.on_header.empty() && printer.headers().size() > headers)
                run_on_header(o.on_header, printer, now());
            if (printer.hung_up())
                break;  // the line goes away: closing the master hangs up the host's side
        } else if (r < 0 && errno != EAGAIN && errno != EINTR) {
            usleep(10000);  // EIO while no one holds the slave: wait for a reopen
        }
    }

    transcript.flush(printer, true);
    if (!o.pages_out.empty() && !write_pages(o.pages_out, printer)) {
        std::fprintf(stderr, "printer-sim: cannot write pages to %s\n", o.pages_out.c_str());
        exit_code = 1;
    }
    if (!o.stats.empty() && !write_stats(o.stats, printer, o.line_rate)) {
        std::fprintf(stderr, "printer-sim: cannot write %s\n", o.stats.c_str());
        exit_code = 1;
    }
    if (!o.link.empty())
        unlink(o.link.c_str());
    close(slave);
    close(master);
    return exit_code;
}
