#include "app/catalogue.h"
#include "app/cls_flash.h"
#include "app/startup.h"

int main(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) line += (i ? " " : "") + std::string(argv[i]);
    vx::Platform& p = vx::native_platform();
    static vx::MessageCatalogue catalogue(p);
    static vx::Cls_flash flash(p, catalogue);
    return vx::run_startup(flash, catalogue, line, nullptr);
}
