// Start-up: locate flash.ini and flash.mes, read the settings, refuse what cannot run, stop
// the spooler for unattended serial runs, then run the chosen mode.
#include "app/startup.h"

#include <cstring>
#include <system_error>
#include <thread>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "app/sheet.h"
#include "app/spooler.h"
#include "app/toolkit.h"

namespace vx {
namespace {

constexpr size_t COMMAND_LINE_CHARS = 259;

// The toolkit's port choice wins over flash.ini (interactive toolkit launch only).
void apply_toolkit_settings(FlashRun& flash) {
    ToolkitRegistry& registry = flash.platform.registry;
    char port[TOOLKIT_PORT_CHARS] = {};
    if (read_toolkit_port(registry, 1, port)) {
        flash.write_port_name(port);
        if (std::strncmp(port, "COM", 3) == 0) {
            uint32_t baud = 0;
            uint8_t stop = 0, parity = 0, data_bits = 0;
            if (read_toolkit_serial(registry, 1, baud, stop, parity, data_bits)) {
                flash.set_port_settings(port, static_cast<int>(baud), data_bits, parity, stop, 0);
                flash.write_port_settings();
            }
        }
    }
    flash.read_port_settings();
}

int run_silent(FlashRun& flash, FlashWorker worker) {
    send_thread_args args;
    args.flash = &flash;
    int code = 0;
    try {
        std::thread thread([&code, &args, worker] { code = worker(args); });
        thread.join();
    } catch (const std::system_error&) {
        flash.report.trace_line("[FLASH][Winmain] Cannot start the flash procedure thread\n");
        code = 0;
    }
    // Nothing else would start it again after a run without pages.
    restart_spooler(flash, "[FLASH][Winmain] ");
    if (code == 1)
        flash.report.ok_report(" OK - update firmware completed successfully ");
    return code;
}

int run_sheet(FlashRun& flash, bool toolkit_launch, void* instance, SheetRunner& sheet) {
    SheetRequest request;
    request.caption = flash.catalogue.get_message(31);
    request.main_title = flash.catalogue.get_message(28);
    request.flash_mode = flash.report.mode();
    request.instance = instance;
    request.flash = &flash;
    if (flash.report.mode() != INTERACTIVE_MODE) {
        flash.report.trace_line("[FLASH][Winmain] Start with NOT Interactive Mode\n");
    } else {
        flash.report.trace_line("[FLASH][Winmain] Start with Interactive Mode\n");
        if (!toolkit_launch) {
            request.setup_page = true;
            request.setup_title = flash.catalogue.get_message(35);
        }
        request.about_title = flash.catalogue.get_message(37);
    }
    switch (sheet.run(request)) {
        case SHEET_FAILED:
            flash.report.flash_last_error_msg("PropertySheet");
            break;
        case SHEET_NOT_SHOWN:
            flash.report.trace_line("[FLASH][Winmain] PropertySheet : no page could be shown\n");
            break;
        default:
            break;
    }
    // The main page restarts the spooler when it ends an unattended run; a sheet that closed
    // without that ending (it could not be shown) must not leave it stopped.
    restart_spooler(flash, "[FLASH][Winmain] ");
    return 1;
}

}  // namespace

std::string build_path(Platform& platform, const std::string& dir, const char* file) {
    std::string path = dir + platform.files.path_separator() + file;
    if (path.size() > PATH_CHARS - 1)
        return {};
    return path;
}

int run_startup(FlashRun& flash, MessageCatalogue& catalogue, const std::string& command_line,
                void* instance, SheetRunner& sheet, FlashWorker worker) {
    Platform& platform = flash.platform;
    platform.files.remove("KO.txt");
    platform.files.remove("OK.txt");
    // Before anything can fail: a spooler a killed run left stopped runs again.
    const std::string recovered = recover_spooler(platform);

    const std::string line = command_line.substr(0, COMMAND_LINE_CHARS);
    const bool toolkit_launch = line.find("/tb") != std::string::npos;

    // A directory that cannot be read, or too long for a 260-character path, leaves flash.ini
    // out of reach: reported as not found, the same answer the caller already handles.
    const std::string dir = platform.files.startup_directory();
    const std::string ini = dir.empty() ? std::string() : build_path(platform, dir, "flash.ini");
    if (ini.empty() || !platform.files.exists(ini)) {
        flash.report.ko_report("[Error 1] flash.ini not found.\n");
        return 0;
    }
    std::memcpy(flash.config.ini_path, ini.c_str(), ini.size() + 1);
    const std::string mes = build_path(platform, dir, "flash.mes");
    if (mes.empty() || !platform.files.exists(mes)) {
        flash.report.ko_report("[Error 2] file flash.mes not found.\n");
        return 0;
    }

    catalogue.load_catalogue(mes.c_str());  // a failure has shown its box; texts fall back
    flash.read_config();
    flash.report.trace_line("[FLASH][Winmain] Start - Ini Pathname = %s \n", flash.config.ini_path);
    if (!recovered.empty())
        flash.report.trace_line("%s", recovered.c_str());
    flash.read_port_settings();

    if (toolkit_launch && flash.report.mode() == INTERACTIVE_MODE)
        apply_toolkit_settings(flash);

    if (flash.config.port_type == LPT_PORT) {
        flash.report.user_message(nullptr, flash.catalogue.get_message(39),
                                  flash.catalogue.get_message(47), BOX_OK);
        flash.report.ko_report("[Error 11] LPT Invalid port type\n");
        return 0;
    }

    if (flash.config.port_type == COM_PORT && flash.report.mode() != INTERACTIVE_MODE)
        stop_spooler(flash);

    if (flash.report.mode() == SILENT_MODE)
        return run_silent(flash, worker);
    return run_sheet(flash, toolkit_launch, instance, sheet);
}

}  // namespace vx
