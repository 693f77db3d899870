#include "app/spooler.h"

#include "app/flash_run.h"
#include "protocol/run_timing.h"

namespace vx {

void stop_spooler(FlashRun& flash) {
    Services& services = flash.platform.services;
    ServiceState state = ServiceState::unknown;
    switch (services.spooler_state(state)) {
        case ServiceAccess::manager_failed:
            flash.report.trace_line("[FLASH][Winmain] Spooler Service fail\n");
            return;
        case ServiceAccess::not_applicable:  // no spooler here: nothing done, nothing to say
        case ServiceAccess::service_failed:
            return;
        case ServiceAccess::opened:
            break;
    }
    if (state != ServiceState::running) {
        // Someone stopped it on purpose (or it is on its way): not ours to start later.
        flash.report.trace_line("[FLASH][Winmain] Spooler Service not running: left as found\n");
        return;
    }
    // Without the record a killed run would leave the workstation unable to print.
    if (!services.write_stop_record()) {
        flash.report.trace_line(
            "[FLASH][Winmain] Spooler Service not stopped: the stop cannot be recorded\n");
        return;
    }
    std::string error;
    if (!services.stop_spooler(error)) {
        services.clear_stop_record();
        return;
    }
    flash.spooler_stopped = true;
    flash.platform.clock.sleep_ms(wait_ms::SPOOLER_STOP);
    flash.report.trace_line("[FLASH][Winmain] Spooler Service Stopped\n");
}

void restart_spooler(FlashRun& flash, const char* tag) {
    if (!flash.spooler_stopped.exchange(false))
        return;
    Services& services = flash.platform.services;
    std::string error;
    if (services.start_spooler(error)) {
        services.clear_stop_record();
        flash.report.trace_line("%sSpooler Service Restarted !\n", tag);
    } else {
        // The record stays: the next start of the program tries again.
        flash.report.trace_line("%sSpooler Service restart failed: %s\n", tag, error.c_str());
    }
}

std::string recover_spooler(Platform& platform) {
    Services& services = platform.services;
    if (!services.stop_recorded())
        return {};
    std::string error;
    if (!services.start_spooler(error))
        return "[FLASH][Winmain] Spooler Service stopped by an earlier run: restart failed: " +
               error + "\n";
    services.clear_stop_record();
    return "[FLASH][Winmain] Spooler Service stopped by an earlier run: restarted\n";
}

}  // namespace vx
