#include "session/transfer_plan.h"

namespace vx {

namespace {

struct RefusedSelection {
    bool (*applies)(int model, uint16_t flags);
    const char* trace;
};

// Checked before the main page's boxes are read.
constexpr RefusedSelection kRefused[] = {
    {[](int model, uint16_t flags) {
         return (model == VX3PLUS_CR_MODEL || model == VX3PLUS_SC_MODEL) && flags == SEND_FREE;
     },
     "[FLASH][send_thread] SEND FREE PAGES Invalid operation !\n"},
};

constexpr RefusedSelection kRefusedAfterBoxes[] = {
    {[](int model, uint16_t flags) { return model == VX3E_MODEL && flags == SEND_BOOT; },
     "[FLASH][send_thread] SEND_BOOT Invalid operation !\n"},
    {[](int model, uint16_t flags) {
         return model != KD5_ADF_L2_MODEL && (flags & SEND_FPGA) != 0;
     },
     "[FLASH][send_thread] SEND_FPGA Invalid operation !\n"},
};

}  // namespace

const char* refused_selection(int model, uint16_t flags, bool after_boxes) {
    if (after_boxes) {
        for (const RefusedSelection& r : kRefusedAfterBoxes) {
            if (r.applies(model, flags))
                return r.trace;
        }
        return nullptr;
    }
    for (const RefusedSelection& r : kRefused) {
        if (r.applies(model, flags))
            return r.trace;
    }
    return nullptr;
}

uint16_t with_implied_sections(int model, uint16_t flags) {
    if (model == KD5_ADF_L2_MODEL && (flags & SEND_FW) && (flags & SEND_CG))
        flags |= SEND_FPGA;
    return flags;
}

std::vector<uint16_t> range_steps(int model, uint16_t flags) {
    if (flags & SEND_FREE)
        return {SEND_FREE};
    if (flags & SEND_BOOT)
        return {SEND_BOOT};
    const bool fw = flags & SEND_FW, fpga = flags & SEND_FPGA, cg = flags & SEND_CG;
    if (!fw && !fpga && !cg)
        return {};
    if (cg && !fw && !fpga)
        return {SEND_CG};
    if (fw && cg && !fpga && model == VX3E_MODEL && (flags & KEEP_SETTINGS))
        return {std::begin(THREE_STEP_FLAGS), std::end(THREE_STEP_FLAGS)};
    return {flags};
}

}  // namespace vx
