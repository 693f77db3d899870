// A flash context around the fakes, living in a fresh temporary current directory.
#pragma once
#include <string>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "fake_platform.h"

namespace vx::test {

// A result or trace file with its line ends as written in text mode turned back into "\n":
// CR LF on Windows, LF elsewhere. A line end of the other kind shows up as "<bad line end>".
inline std::string read_lines(const TempDir& dir, const std::string& name) {
    std::string raw = dir.read(name), out;
#ifdef _WIN32
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            continue;
        if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r'))
            out += "<bad line end>";
        out += raw[i];
    }
#else
    for (char c : raw) {
        if (c == '\r')
            out += "<bad line end>";
        out += c;
    }
#endif
    return out;
}

struct AppFixture {
    TempDir dir;  // first: it outlives the context, whose trace file it holds
    FakePlatform fake;
    MessageCatalogue catalogue{fake.platform};
    FlashRun flash{fake.platform, catalogue};

    // flash.ini in the temporary directory, and ini_path pointing at it.
    void ini(const std::string& text) {
        dir.write("flash.ini", text);
        std::string p = dir.file("flash.ini");
        p.copy(flash.config.ini_path, sizeof flash.config.ini_path - 1);
        flash.config.ini_path[std::min(p.size(), sizeof flash.config.ini_path - 1)] = '\0';
    }
};

}  // namespace vx::test
