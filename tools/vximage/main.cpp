// vximage: makes firmware and boot images for every printer model, and says what an image
// file is, using the program's own checks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "image_builder.h"
#include "image_info.h"

namespace {

const char* const HELP =
    "usage:\n"
    "  vximage make --model N --kind fw|boot [options] -o FILE\n"
    "  vximage info FILE [--model N]\n"
    "  vximage --help\n"
    "\n"
    "make: writes an image for printer model N (firmware: 1-6, boot: 2-6).\n"
    "  --pages P         size in 16384-byte pages (default: firmware 64 for model 1, 80 for\n"
    "                    model 2, 32 otherwise; boot 4)\n"
    "  --seed S          seed of the page contents (default 1); the same seed gives the same\n"
    "                    bytes, so pages received can be compared with the file\n"
    "  --fw-start ADDR   models 3, 4: flash address of the first firmware byte (default 0x10000)\n"
    "  --fw-end ADDR     models 3, 4: flash address of the last firmware byte;\n"
    "                    model 6: last byte of the firmware section (its trailer ends there)\n"
    "  --cg-start ADDR   models 3, 4: flash address of the first CG byte (default fw-end + 1)\n"
    "  --fpga-end ADDR   model 6: last byte of the FPGA section\n"
    "  --boot-start ADDR boot, models 3-6: first boot byte (default 0)\n"
    "  --boot-end ADDR   boot, models 3-6: last boot byte (default: the file's last byte)\n"
    "  --text-a T, --text-b T   boot identification texts (at most 8 characters)\n"
    "  --break KIND      make the image invalid on purpose:\n"
    "                      crc            stored checksum wrong\n"
    "                      tag            tag text altered\n"
    "                      size           firmware one byte longer than whole pages\n"
    "                      trailer        checksum trailer missing (model 6 firmware: the\n"
    "                                     firmware section's trailer)\n"
    "                      extra-trailer  model 6 firmware: a fourth \"  CRC:\" trailer\n"
    "                      short          boot: one byte too short for its header;\n"
    "                                     model 2 firmware: 16 pages, no room for its tag\n"
    "                      table          \"SECTION TBL:\" altered\n"
    "                      strings        \"FW i: \" / \"Boot i: \" altered\n"
    "                      gc             \"GC i: \" altered (models 3, 4 firmware)\n"
    "  -o FILE           output file\n"
    "ADDR and numbers are decimal or 0x-prefixed hexadecimal.\n"
    "\n"
    "info: checks FILE as firmware and as boot image for each model (or model N) with the\n"
    "  program's own checks, prints its checksum (stored and computed), its sections as flash\n"
    "  page ranges, and why each failing check fails. Exit code 0 when the file is valid for\n"
    "  model N (for some model when --model is not given), 1 otherwise.\n"
    "\n"
    "Exit codes: 0 success, 1 invalid image (info), 2 wrong usage or the image cannot be made.\n";

int usage(const std::string& message) {
    std::cerr << "vximage: " << message << "\n(vximage --help for usage)\n";
    return 2;
}

bool parse_number(const char* text, uint64_t max, uint64_t& out) {
    if (text == nullptr || *text == '\0' || *text == '-')
        return false;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 0);
    if (*end != '\0' || value > max)
        return false;
    out = value;
    return true;
}

int make(int argc, char** argv) {
    vximage::ImageRecipe recipe;
    std::string output;
    bool have_kind = false;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (value == nullptr)
            return usage("missing value after " + option);
        ++i;
        uint64_t number = 0;
        auto address = [&](std::optional<uint32_t>& field) {
            if (!parse_number(value, 0xFFFFFFFFull, number))
                return false;
            field = uint32_t(number);
            return true;
        };
        bool ok = true;
        if (option == "--model") {
            ok = parse_number(value, 6, number) && number >= 1;
            recipe.model = int(number);
        } else if (option == "--kind") {
            have_kind = true;
            if (std::strcmp(value, "fw") == 0) {
                recipe.kind = vximage::Kind::fw;
            } else if (std::strcmp(value, "boot") == 0) {
                recipe.kind = vximage::Kind::boot;
            } else {
                ok = false;
            }
        } else if (option == "--pages") {
            ok = parse_number(value, 16384, number) && number >= 1;
            recipe.pages = uint32_t(number);
        } else if (option == "--seed") {
            ok = parse_number(value, UINT64_MAX, number);
            recipe.seed = number;
        } else if (option == "--fw-start") {
            ok = address(recipe.fw_start);
        } else if (option == "--fw-end") {
            ok = address(recipe.fw_end);
        } else if (option == "--cg-start") {
            ok = address(recipe.cg_start);
        } else if (option == "--fpga-end") {
            ok = address(recipe.fpga_end);
        } else if (option == "--boot-start") {
            ok = address(recipe.boot_start);
        } else if (option == "--boot-end") {
            ok = address(recipe.boot_end);
        } else if (option == "--text-a") {
            recipe.text_a = value;
        } else if (option == "--text-b") {
            recipe.text_b = value;
        } else if (option == "--break") {
            ok = vximage::parse_breakage(value, recipe.breakage);
        } else if (option == "-o") {
            output = value;
        } else {
            return usage("unknown option " + option);
        }
        if (!ok)
            return usage("bad value for " + option + ": " + value);
    }
    if (recipe.model == 0)
        return usage("--model is required");
    if (!have_kind)
        return usage("--kind is required");
    if (output.empty())
        return usage("-o FILE is required");

    std::vector<uint8_t> image;
    const std::string error = vximage::build_image(recipe, image);
    if (!error.empty()) {
        std::cerr << "vximage: " << error << "\n";
        return 2;
    }
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    out.close();
    if (!out) {
        std::cerr << "vximage: cannot write " << output << "\n";
        return 2;
    }
    return 0;
}

int info(int argc, char** argv) {
    std::string file;
    int model = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--model") {
            uint64_t number = 0;
            if (i + 1 >= argc || !parse_number(argv[i + 1], 6, number) || number < 1) {
                return usage("--model takes 1 to 6");
            }
            model = int(number);
            ++i;
        } else if (file.empty() && (arg.empty() || arg[0] != '-')) {
            file = arg;
        } else {
            return usage("unexpected argument " + arg);
        }
    }
    if (file.empty())
        return usage("info needs a FILE");
    return vximage::run_info(file, model, std::cout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage("no command");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << HELP;
        return 0;
    }
    if (command == "make")
        return make(argc, argv);
    if (command == "info")
        return info(argc, argv);
    return usage("unknown command " + command);
}
